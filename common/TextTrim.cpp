#include "TextTrim.h"

std::string TrimText(std::string_view text, std::string_view blanks)
{
    const std::string_view::size_type first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return std::string();
    return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

std::string TrimOws(std::string_view text) { return TrimText(text, kOws); }

#include "Wildcard.h"

#include "CRuntime.h"

int WildcardMatch(const std::string& pattern, const std::string& text)
{
    // Greedy scan that only ever returns to the most recent "*": whatever an earlier star
    // would take extra, the later one can take instead, so older choices never need
    // revisiting. This keeps hostile patterns ("*a*a*a...b") polynomial.
    const std::string::size_type none = std::string::npos;
    std::string::size_type p = 0;
    std::string::size_type t = 0;
    std::string::size_type starP = none;  // position of the last "*" seen
    std::string::size_type starT = 0;     // text position where that star's run ends
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (starP != none) {
            p = starP + 1;
            t = ++starT;
        } else {
            return 0;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size() ? 1 : 0;
}

int WildcardMatchNoCase(const std::string& pattern, const std::string& text)
{
    return WildcardMatch(platform::_mbslwr(pattern), platform::_mbslwr(text));
}

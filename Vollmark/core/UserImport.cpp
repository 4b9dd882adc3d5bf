#include "core/UserImport.h"

#include "FileIo.h"
#include "JapaneseText.h"
#include "TextCodec.h"
#include "TextTrim.h"

#include <algorithm>

namespace {

// No Shift-JIS trail byte is one of these, so cutting bytes here never splits a character.
const char kFieldSeparators[] = {',', '\t'};

struct ByteOrderMark {
    int charset;
    const char* bytes;
};

// Kept, a mark would become a character at the front of the first user name.
const ByteOrderMark kByteOrderMarks[] = {
    {kCharsetUtf8, "\xEF\xBB\xBF"},
    {kCharsetUtf16Le, "\xFF\xFE"},
};

// U+FFFD in UTF-8: what the platform's conversion puts for bytes CP932 does not read.
const char kUnicodeReplacement[] = "\xEF\xBF\xBD";

// The encodings a file's lines are cut in before each field becomes CP932.
enum class Encoding { Cp932, Utf8, EucJp };

struct FileText {
    Encoding encoding;
    std::string text;
};

// UTF-16 units as UTF-8; a lone surrogate stays a (malformed) sequence of its own, which
// the conversion to CP932 then refuses.
std::string Utf16LeToUtf8(const std::string& bytes)
{
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    const int length = ConvertUtf16ToUtf8(nullptr, units.c_str(), 0);
    if (length <= 0)
        return std::string();
    std::string utf8(static_cast<size_t>(length) + 1, '\0');
    ConvertUtf16ToUtf8(utf8.data(), units.c_str(), length + 1);
    utf8.resize(static_cast<size_t>(length));
    return utf8;
}

FileText DecodeFileText(const std::string& bytes)
{
    // A byte-order mark names the encoding outright; counting patterns would take UTF-16
    // for binary once a surrogate pair comes along.
    int charset = kCharsetUndecided;
    std::string text = bytes;
    for (const ByteOrderMark& mark : kByteOrderMarks) {
        if (text.rfind(mark.bytes, 0) == 0) {
            charset = mark.charset;
            text.erase(0, std::char_traits<char>::length(mark.bytes));
            break;
        }
    }
    if (charset == kCharsetUndecided)
        charset = DetectCharset(text.data(), text.size());
    switch (charset) {
    case kCharsetUtf8:
        return {Encoding::Utf8, text};
    case kCharsetUtf16Le:
        return {Encoding::Utf8, Utf16LeToUtf8(text)};
    case kCharsetEucJp:
        return {Encoding::EucJp, text};
    default:
        return {Encoding::Cp932, text};
    }
}

// Whether every byte of the text is part of a character CP932 has: the settings file
// holds it as Unicode, where anything else would become U+FFFD. XML 1.0 (2.2) has no
// character U+0000.
bool HoldsOnlyCp932(const std::string& text)
{
    return text.find('\0') == std::string::npos &&
           platform::Cp932ToUtf8(text).find(kUnicodeReplacement) == std::string::npos;
}

// `field` of a file in `encoding`, as CP932 in `out`; false when a character had no CP932
// form (`out` then holds a substitute for it).
bool FieldToCp932(Encoding encoding, const std::string& field, std::string& out)
{
    switch (encoding) {
    case Encoding::Utf8: {
        bool substituted = false;
        out = platform::Utf8ToCp932(field, &substituted);
        return !substituted;
    }
    case Encoding::EucJp: {
        // The converter writes '?' for a character it cannot map.
        const int length = ConvertEucJpToShiftJis(nullptr, field.c_str(), 0);
        if (length < 0)
            return false;
        out.assign(static_cast<size_t>(length) + 1, '\0');
        ConvertEucJpToShiftJis(out.data(), field.c_str(), length + 1);
        out.resize(static_cast<size_t>(length));
        return std::count(out.begin(), out.end(), '?') == std::count(field.begin(), field.end(), '?') &&
               HoldsOnlyCp932(out);
    }
    case Encoding::Cp932:
        out = field;
        return HoldsOnlyCp932(out);
    }
    return false;
}

}  // namespace

std::string ReadTrimmedLine(const std::string& text, size_t& pos)
{
    const size_t lineEnd = text.find('\n', pos);
    const size_t next = lineEnd == std::string::npos ? text.size() : lineEnd + 1;
    const std::string line = TrimText(text.substr(pos, next - pos));
    pos = next;
    return line;
}

std::string SplitField(std::string& rest)
{
    for (char separator : kFieldSeparators) {
        const size_t at = rest.find(separator);
        if (at != std::string::npos) {
            const std::string field = TrimText(rest.substr(0, at));
            rest.erase(0, at + 1);
            return field;
        }
    }
    const std::string field = TrimText(rest);
    rest.clear();
    return field;
}

bool UserNameHoldsColon(const std::string& name)
{
    // ':' is ASCII below 0x40, so it is never a CP932 trail byte.
    return name.find(':') != std::string::npos;
}

UserFile ParseUserFile(const std::string& bytes)
{
    const FileText file = DecodeFileText(bytes);
    UserFile result;
    size_t pos = 0;
    for (int line = 1; pos < file.text.size(); ++line) {
        std::string rest = ReadTrimmedLine(file.text, pos);
        ImportedUser user;
        bool held = true;
        for (std::string* field : {&user.name, &user.password, &user.comment})
            held = FieldToCp932(file.encoding, SplitField(rest), *field) && held;
        if (!held)
            result.unencodableLines.push_back(line);
        else if (user.name.empty() || user.password.empty())
            continue;
        else if (UserNameHoldsColon(user.name))
            result.colonLines.push_back(line);
        else
            result.users.push_back(user);
    }
    return result;
}

std::string ListForMessage(const std::vector<std::string>& items)
{
    std::string text;
    for (size_t i = 0; i < items.size() && i < kListedItems; ++i)
        text += (i == 0 ? "" : ", ") + items[i];
    if (items.size() > kListedItems)
        text += " ほか " + std::to_string(items.size() - kListedItems) + " 件";
    return text;
}

std::string ListForMessage(const std::vector<int>& lines)
{
    std::vector<std::string> items;
    for (const int line : lines)
        items.push_back(std::to_string(line));
    return ListForMessage(items);
}

UserFile ReadUserFile(const std::string& path)
{
    std::string bytes;
    std::string error;
    if (platform::ReadWholeFile(path, bytes, error) != platform::FileReadResult::Read)
        return {};
    return ParseUserFile(bytes);
}

#include "core/UserImport.h"

#include "FileIo.h"
#include "JapaneseText.h"
#include "TextTrim.h"

namespace {

// No Shift-JIS trail byte is one of these, so cutting bytes here never splits a character.
const char kFieldSeparators[] = {',', '\t'};

struct ByteOrderMark {
    int charset;
    const char* bytes;
};

// Converted, a mark would become a character at the front of the first user name.
const ByteOrderMark kByteOrderMarks[] = {
    {kCharsetUtf8, "\xEF\xBB\xBF"},
    {kCharsetUtf16Le, "\xFF\xFE"},
};

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

std::vector<ImportedUser> ParseUserLines(const std::string& text)
{
    std::vector<ImportedUser> users;
    size_t pos = 0;
    while (pos < text.size()) {
        std::string rest = ReadTrimmedLine(text, pos);
        ImportedUser user;
        user.name = SplitField(rest);
        user.password = SplitField(rest);
        user.comment = SplitField(rest);
        if (!user.name.empty() && !user.password.empty())
            users.push_back(user);
    }
    return users;
}

std::string DecodeUserFile(const std::string& bytes)
{
    const int charset = DetectCharset(bytes.data(), bytes.size());
    for (const ByteOrderMark& mark : kByteOrderMarks) {
        if (charset == mark.charset && bytes.rfind(mark.bytes, 0) == 0)
            return ConvertToShiftJis(bytes.substr(std::char_traits<char>::length(mark.bytes)));
    }
    return ConvertToShiftJis(bytes);
}

std::vector<ImportedUser> ReadUserFile(const std::string& path)
{
    std::string bytes;
    std::string error;
    if (platform::ReadWholeFile(path, bytes, error) != platform::FileReadResult::Read)
        return {};
    return ParseUserLines(DecodeUserFile(bytes));
}

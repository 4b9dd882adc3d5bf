#include "core/TypeTable.h"

#include "ConfigClass.h"
#include "TextTrim.h"

#include <algorithm>
#include <string_view>

const TypeTableKeys kMimeTypeTable = {schema::kMimeType, schema::kMimeTypeText};
const TypeTableKeys kIconTypeTable = {schema::kIconType, schema::kIconTypeText};

namespace {

const char kCrLf[] = "\r\n";
const char kSeparator = ',';

void ReplaceAll(std::string& text, std::string_view from, std::string_view to)
{
    for (std::string::size_type at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

bool IsComment(const std::string& line) { return line[0] == '#' || line.compare(0, 2, "//") == 0; }

}  // namespace

std::string ToCrLfLineEnds(const std::string& text)
{
    std::string result = text;
    ReplaceAll(result, kCrLf, "\n");
    ReplaceAll(result, "\r", "\n");
    ReplaceAll(result, "\n", kCrLf);
    return result;
}

bool NextTableLine(std::string& text, std::string& line)
{
    const std::string::size_type end = text.find(kCrLf);
    if (end != std::string::npos) {
        line = text.substr(0, end);
        text.erase(0, end + 2);
        return true;
    }
    if (text.empty())
        return false;
    line.swap(text);
    text.clear();
    return true;
}

int SplitTableTokens(const std::string& line, std::vector<std::string>& tokens)
{
    tokens.clear();
    std::string rest = TrimText(line);
    for (char& c : rest) {
        if (c == '\t' || c == ' ')
            c = kSeparator;
    }
    std::string::size_type start = 0;
    while (start < rest.size()) {
        std::string::size_type end = rest.find(kSeparator, start);
        if (end == std::string::npos)
            end = rest.size();
        if (end > start)
            tokens.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    return static_cast<int>(tokens.size());
}

void BuildTypeTable(const std::string& text, const TypeTableKeys& keys, const CConfigAccessor& node)
{
    std::string rest = text;
    std::string line;
    std::vector<std::string> tokens;
    CConfigLock lock(node);
    while (NextTableLine(rest, line)) {
        line = TrimText(line);
        if (line.empty() || IsComment(line) || SplitTableTokens(line, tokens) < 2)
            continue;
        const CConfigAccessor entry = node.GetSubAccessor(tokens[0]);
        const int first = entry.GetKeyCount();
        for (size_t i = 1; i < tokens.size(); ++i)
            entry.SetString(keys.node.LeafName(first + static_cast<int>(i) - 1), tokens[i]);
    }
}

std::string DescribeTypeTable(const CConfigAccessor& node)
{
    CConfigReadLock lock(node);
    std::vector<std::string> names;
    node.GetSections(names);
    std::string text;
    for (const std::string& name : names) {
        std::string line = name;
        for (const std::string& value : node.GetSubAccessor(name).GetLeafValues()) {
            if (!value.empty())
                line += ' ' + value;
        }
        if (line.size() > name.size())
            text += line + kCrLf;
    }
    return text;
}

std::string LoadTypeTableText(const CConfigAccessor& setting, const TypeTableKeys& keys)
{
    CConfigReadLock lock(setting);
    if (!setting.HasSection(keys.node.path))
        return "";
    const CConfigAccessor node = setting.GetSubAccessor(keys.node.path);
    std::vector<std::string> leaves;
    node.GetKeys(leaves);
    if (std::find(leaves.begin(), leaves.end(), keys.text.leaf) == leaves.end())
        return DescribeTypeTable(node);
    return ToCrLfLineEnds(keys.text.Read(setting, schema::kControllerDefault));
}

void StoreTypeTable(const CConfigAccessor& setting, const TypeTableKeys& keys, const std::string& text)
{
    const std::string stored = ToCrLfLineEnds(text);
    CConfigClass scratch;
    const CConfigAccessor built = scratch.GetAccessor(std::string(keys.node.path));
    BuildTypeTable(stored, keys, built);
    CConfigLock lock(setting);
    setting.GetSubAccessor(keys.node.path).CopyFrom(built);
    setting.SetString(keys.text.path, stored);
}

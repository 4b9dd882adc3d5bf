// The marker text of a tree, as the server hands its trees to the controller:
//   node  = 'S' name-field leaf* node* 'E'
//   leaf  = 'L' key-field value-field
//   field = the bytes with every 0x5C doubled, then 0x5C '0'
// Both sides work on bytes: a 0x5C that is the trail byte of a double-byte character is
// doubled like any other, so every text reads back as written.

#include "ConfigClass.h"

#include "ByteBuffer.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

const char kEscape = '\\';
const char kFieldEnd = '0';

}  // namespace

void CConfigNode::Serialize(CByteBuffer& buffer) const
{
    WriteStart(buffer);
    for (const CConfigLeaf& leaf : leaves_)
        WriteLeaf(buffer, leaf.key, leaf.value);
    for (const CConfigNode& child : children_)
        child.Serialize(buffer);
    WriteEnd(buffer);
}

void CConfigNode::WriteStart(CByteBuffer& buffer) const
{
    buffer.AppendByte('S');
    WriteText(buffer, name_);
}

void CConfigNode::WriteLeaf(CByteBuffer& buffer, const std::string& key, const std::string& value)
{
    buffer.AppendByte('L');
    WriteText(buffer, key);
    WriteText(buffer, value);
}

void CConfigNode::WriteEnd(CByteBuffer& buffer) { buffer.AppendByte('E'); }

void CConfigNode::WriteText(CByteBuffer& buffer, const std::string& text)
{
    // A zero byte would end the whole text on the reading side, so it ends the field here.
    const std::string::size_type end = std::min(text.find('\0'), text.size());
    std::string::size_type start = 0;
    for (std::string::size_type i = 0; i < end; ++i) {
        if (text[i] == kEscape) {
            buffer.Append(text.data() + start, static_cast<int32_t>(i + 1 - start));
            buffer.AppendByte(kEscape);
            start = i + 1;
        }
    }
    buffer.Append(text.data() + start, static_cast<int32_t>(end - start));
    buffer.AppendByte(kEscape);
    buffer.AppendByte(kFieldEnd);
}

bool CConfigNode::ReadSerializedString(const char*& cursor, const char* end, std::string& text)
{
    std::string content;
    for (const char* p = cursor; p < end; ++p) {
        if (*p != kEscape) {
            content += *p;
            continue;
        }
        if (p + 1 >= end)
            break;
        if (p[1] == kFieldEnd) {
            text = std::move(content);
            cursor = p + 2;
            return true;
        }
        // A doubled backslash is one backslash of content; a lone one before another byte
        // is kept as it stands.
        content += kEscape;
        if (p[1] == kEscape)
            ++p;
    }
    text.clear();
    return false;
}

int CConfigNode::ParseSerializedNode(const char*& cursor, const char* end, int depth)
{
    for (;;) {
        if (cursor >= end)
            return -1;
        switch (*cursor++) {
        case 'S': {
            std::string name;
            if (!ReadSerializedString(cursor, end, name) || depth >= CConfigClass::kMaxSerializedDepth)
                return -1;
            if (AppendChild(name).ParseSerializedNode(cursor, end, depth + 1) != 0)
                return -1;
            break;
        }
        case 'L': {
            std::string key, value;
            if (!ReadSerializedString(cursor, end, key) || !ReadSerializedString(cursor, end, value))
                return -1;
            SetLeaf(key, value);
            break;
        }
        case 'E':
            return 0;
        default:
            return -1;
        }
    }
}

std::string CConfigClass::SerializeNode(const std::string& nodePath)
{
    ShapeLock lock(*this);
    CByteBuffer buffer;
    std::string key;
    root_.FindOrCreateParent(nodePath, key).Serialize(buffer);
    return std::string(buffer.GetData(), buffer.GetLength());
}

std::string CConfigClass::ReadSerializedRootName(const char*& cursor, const char* end)
{
    if (cursor >= end || *cursor++ != 'S')
        return "";
    std::string name;
    CConfigNode::ReadSerializedString(cursor, end, name);
    return name;
}

int CConfigClass::LoadSerializedText(const std::string& text)
{
    ShapeLock lock(*this);
    root_.Clear();
    // The text ends at its first zero byte, as it did when it crossed as a C string.
    const char* cursor = text.c_str();
    const char* end = cursor + std::strlen(cursor);
    if (ReadSerializedRootName(cursor, end).empty())
        return -1;
    return root_.ParseSerializedNode(cursor, end, 1);
}

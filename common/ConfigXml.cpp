// The settings file: the tree as XML.
//
//   <?xml version='1.0'?>
//   <!--Tarnwick CConfig class.-->
//   <CConfigClass type="Tarnwick">
//   	<Node name="Tarnwick">
//   		<Leaf key="Port">80</Leaf>
//   		<Node name="Basic">...</Node>
//   	</Node>
//   </CConfigClass>
//
// Leaves come before children; each element starts on a new line one tab deeper than its
// parent. The file is UTF-8; the tree's CP932 texts are converted at this edge.

#include "ConfigClass.h"

#include "FileIo.h"
#include "TextCodec.h"
#include "XmlDocument.h"

#include <mutex>
#include <new>
#include <utility>

namespace {

const char kDeclaration[] = "<?xml version='1.0'?>";
const char kComment[] = "Tarnwick CConfig class.";
const char kDocumentType[] = "Tarnwick";

// XML 1.0 cannot hold control characters other than TAB, LF and CR; they are written as
// '?'. Bytes below 0x20 are never trail bytes in CP932, so this is safe byte by byte.
std::string ToXmlText(std::string text)
{
    for (char& c : text) {
        if (c > 0 && c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            c = '?';
    }
    return platform::Cp932ToUtf8(text);
}

std::string FromXmlText(const std::string& utf8) { return platform::Utf8ToCp932(utf8); }

}  // namespace

void CConfigNode::WriteXml(platform::XmlNode& parent, const std::string& indent) const
{
    parent.AppendText(indent);
    platform::XmlNode element = parent.AppendElement("Node");
    element.SetAttribute("name", ToXmlText(name_));
    for (const CConfigLeaf& leaf : leaves_) {
        element.AppendText(indent + "\t");
        WriteXmlLeaf(leaf, element);
    }
    for (const CConfigNode& child : children_)
        child.WriteXml(element, indent + "\t");
    element.AppendText(indent);
}

void CConfigNode::WriteXmlLeaf(const CConfigLeaf& leaf, platform::XmlNode& parent)
{
    platform::XmlNode element = parent.AppendElement("Leaf");
    element.SetAttribute("key", ToXmlText(leaf.key));
    element.AppendText(ToXmlText(leaf.value));
}

void CConfigNode::ReadXml(const platform::XmlNode& element)
{
    for (const platform::XmlNode& child : element.Children()) {
        if (!child.IsElement())
            continue;
        const std::string name = child.Name();
        if (name == "Node")
            AppendChild(FromXmlText(child.Attribute("name"))).ReadXml(child);
        else if (name == "Leaf")
            SetLeaf(FromXmlText(child.Attribute("key")), FromXmlText(child.Text()));
    }
}

int CConfigClass::SaveXml(const std::string& fileName, const std::string& nodePath, std::string* error,
                          std::string* written)
{
    ShapeLock lock(*this);
    std::string bytes;
    try {
        platform::XmlDocument document;
        document.AppendComment(kComment);
        platform::XmlNode top = document.AppendElement("CConfigClass");
        top.SetAttribute("type", kDocumentType);
        std::string key;
        root_.FindOrCreateParent(nodePath, key).WriteXml(top, "\n\t");
        top.AppendText("\n");
        bytes = document.Serialize(kDeclaration);
    } catch (const std::bad_alloc&) {
        if (error)
            *error = "not enough memory to write " + fileName;
        return -1;
    }
    std::string reason;
    // Settings hold passwords and the key's pass phrase, dumps the requests' credentials.
    if (platform::WriteFileAtomically(fileName, bytes, reason, platform::FileAccess::OwnerOnly)) {
        if (written)
            *written = std::move(bytes);
        return 0;
    }
    if (error)
        *error = reason;
    return -1;
}

int CConfigClass::LoadXml(const std::string& fileName, ConfigFileState* state, std::string* error, std::string* read)
{
    ShapeLock lock(*this);
    root_.Clear();
    ConfigFileState found = ConfigFileState::Unrecognised;
    std::string bytes, reason;
    switch (platform::ReadWholeFile(fileName, bytes, reason)) {
    case platform::FileReadResult::Missing:
        found = ConfigFileState::Missing;
        break;
    case platform::FileReadResult::Failed:
        found = ConfigFileState::Unreadable;
        break;
    case platform::FileReadResult::Read:
        try {
            std::unique_ptr<platform::XmlDocument> document = platform::XmlDocument::Parse(bytes, reason);
            if (!document) {
                // The parser speaks UTF-8 and may quote the document.
                reason = fileName + ": " + FromXmlText(reason);
                found = ConfigFileState::Unreadable;
                break;
            }
            for (const platform::XmlNode& top : document->ElementsByTagName("CConfigClass")) {
                if (top.Attribute("type") != kDocumentType)
                    continue;
                // The first child, ignoring the whitespace between elements.
                for (const platform::XmlNode& child : top.Children()) {
                    if (child.IsWhitespaceText())
                        continue;
                    if (child.IsElement() && child.Name() == "Node") {
                        root_.ReadXml(child);
                        found = ConfigFileState::Read;
                    }
                    break;
                }
                if (found == ConfigFileState::Read)
                    break;
            }
        } catch (const std::bad_alloc&) {
            if (state)
                *state = ConfigFileState::Unreadable;
            if (error)
                *error = "not enough memory to read " + fileName;
            return -1;
        }
        if (found == ConfigFileState::Unrecognised)
            reason = fileName + " holds no " + kDocumentType + " settings document";
        break;
    }
    if (state)
        *state = found;
    if (error)
        *error = found == ConfigFileState::Read ? std::string() : reason;
    if (read)
        *read = std::move(bytes);
    return 0;
}

#pragma once
// A small document object model over libxml2: what the settings file and the server's
// XML answers need, nothing more. Every text in and out of this layer is UTF-8.

#include <memory>
#include <string>
#include <vector>

struct _xmlDoc;
struct _xmlNode;

namespace platform {

// A handle to a node of an XmlDocument. It does not own the node and lives no longer
// than its document.
class XmlNode {
public:
    explicit XmlNode(_xmlNode* node) : node_(node) {}

    bool IsElement() const;
    // True for a text node holding only spaces, tabs, CRs and LFs.
    bool IsWhitespaceText() const;
    std::string Name() const;
    // The first attribute of that exact name; "" when there is none.
    std::string Attribute(const std::string& name) const;
    // Child nodes of every kind, in document order.
    std::vector<XmlNode> Children() const;
    // The text and CDATA of the node's descendants, in order. Entity references are not
    // expanded: the parser already resolved the predefined ones, and others are dropped.
    std::string Text() const;

    XmlNode AppendElement(const std::string& name);
    void AppendText(const std::string& text);
    void SetAttribute(const std::string& name, const std::string& value);

private:
    _xmlNode* node_;
};

class XmlDocument {
public:
    // An empty document. Throws std::bad_alloc when libxml2 cannot create one.
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Parses a document held in memory, with no network access, no DTD loading and no
    // entity substitution. Returns null with `error` set when the bytes are not
    // well-formed XML.
    static std::unique_ptr<XmlDocument> Parse(const std::string& bytes, std::string& error);

    // Top-level nodes are appended in call order.
    void AppendComment(const std::string& text);
    XmlNode AppendElement(const std::string& name);

    // Every element of that exact name, at any depth, in document order.
    std::vector<XmlNode> ElementsByTagName(const std::string& name) const;

    // The document as bytes: `declaration` on a line of its own, then each top-level node
    // followed by a newline. Text is written exactly as held (no indentation is added).
    std::string Serialize(const std::string& declaration) const;

private:
    explicit XmlDocument(_xmlDoc* doc) : doc_(doc) {}

    _xmlDoc* doc_;
};

}  // namespace platform

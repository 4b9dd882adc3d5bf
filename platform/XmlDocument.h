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
    // The local name: without its prefix for an element in a namespace (parsed with one,
    // or made by AppendElementNS); as given to AppendElement otherwise.
    std::string Name() const;
    // The namespace name (URI) of an element in a namespace; "" for one in none.
    std::string NamespaceUri() const;
    // The first attribute of that exact name; "" when there is none.
    std::string Attribute(const std::string& name) const;
    // Child nodes of every kind, in document order.
    std::vector<XmlNode> Children() const;
    // The text and CDATA of the node's descendants, in order. Entity references are not
    // expanded: the parser already resolved the predefined ones, and others are dropped.
    std::string Text() const;

    XmlNode AppendElement(const std::string& name);
    // An element in the namespace `namespaceUri` (not empty), named "prefix:local" or
    // "local" (the default namespace). The prefix is declared on the new element unless
    // an enclosing element already binds it to that URI. Throws std::invalid_argument for
    // an empty URI or a name with an empty prefix or local part.
    XmlNode AppendElementNS(const std::string& namespaceUri, const std::string& qualifiedName);
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
    // well-formed XML: the parser's message (UTF-8, may quote the document), after
    // "line L, column C: " where the parser tells where it stopped.
    static std::unique_ptr<XmlDocument> Parse(const std::string& bytes, std::string& error);

    // Top-level nodes are appended in call order.
    void AppendComment(const std::string& text);
    XmlNode AppendElement(const std::string& name);
    // A top-level element in a namespace, declared on it; as XmlNode::AppendElementNS.
    XmlNode AppendElementNS(const std::string& namespaceUri, const std::string& qualifiedName);

    // Every element of that exact name, at any depth, in document order. For elements in
    // a namespace the name is the local name (see XmlNode::Name).
    std::vector<XmlNode> ElementsByTagName(const std::string& name) const;
    // Every element of that namespace and local name, whatever its prefix, at any depth,
    // in document order.
    std::vector<XmlNode> ElementsByTagNameNS(const std::string& namespaceUri, const std::string& localName) const;

    // The document as UTF-8 bytes: `declaration` on a line of its own, then each top-level
    // node followed by a newline. Text is written exactly as held, escaped where XML needs
    // it; no indentation or other white space is added inside a top-level node.
    std::string Serialize(const std::string& declaration) const;

private:
    explicit XmlDocument(_xmlDoc* doc) : doc_(doc) {}
    // Makes `element` (owned until then) the root, or appends it after the root.
    XmlNode AppendTopLevel(_xmlNode* element);

    _xmlDoc* doc_;
};

}  // namespace platform

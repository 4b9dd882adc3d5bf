#include "XmlDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <new>
#include <stdexcept>

namespace platform {

namespace {

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }
std::string S(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

template <typename T>
T* Check(T* p)
{
    if (!p)
        throw std::bad_alloc();
    return p;
}

void CollectText(xmlNode* node, std::string& out)
{
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
            out += S(child->content);
        else if (child->type == XML_ELEMENT_NODE)
            CollectText(child, out);
    }
}

// `match` decides for each element; the walk covers every element below `node` and its
// following siblings.
template <typename Match>
void CollectElements(xmlNode* node, const Match& match, std::vector<XmlNode>& out)
{
    for (xmlNode* child = node; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (match(child))
            out.emplace_back(child);
        CollectElements(child->children, match, out);
    }
}

struct QualifiedName {
    std::string prefix;  // "" for the default namespace
    std::string local;
};

QualifiedName SplitQualifiedName(const std::string& namespaceUri, const std::string& qualifiedName)
{
    if (namespaceUri.empty())
        throw std::invalid_argument("element in a namespace without a namespace name: " + qualifiedName);
    QualifiedName name;
    const std::string::size_type colon = qualifiedName.find(':');
    if (colon == std::string::npos) {
        name.local = qualifiedName;
    } else {
        name.prefix = qualifiedName.substr(0, colon);
        name.local = qualifiedName.substr(colon + 1);
        if (name.prefix.empty())
            throw std::invalid_argument("empty prefix: " + qualifiedName);
    }
    if (name.local.empty())
        throw std::invalid_argument("empty local name: " + qualifiedName);
    return name;
}

// A new element in the namespace; `scope` (an element or null) is where it will be
// appended, so that a binding in force there is reused rather than declared again.
xmlNode* NewNamespacedElement(xmlDoc* doc, xmlNode* scope, const std::string& namespaceUri,
                              const std::string& qualifiedName)
{
    const QualifiedName name = SplitQualifiedName(namespaceUri, qualifiedName);
    const xmlChar* prefix = name.prefix.empty() ? nullptr : X(name.prefix);
    xmlNs* inScope = scope ? xmlSearchNs(doc, scope, prefix) : nullptr;
    if (inScope && S(inScope->href) == namespaceUri)
        return Check(xmlNewDocNode(doc, inScope, X(name.local), nullptr));
    xmlNode* element = Check(xmlNewDocNode(doc, nullptr, X(name.local), nullptr));
    xmlNs* declared = xmlNewNs(element, X(namespaceUri), prefix);
    if (!declared) {
        xmlFreeNode(element);
        throw std::bad_alloc();
    }
    xmlSetNs(element, declared);
    return element;
}

// "line L, column C: message" for a parser error, without the place where it is unknown.
std::string DescribeParseError(const xmlError& error)
{
    std::string message = error.message ? error.message : "not well-formed XML";
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    if (error.line <= 0)
        return message;
    // A parser error carries its column in int2.
    return "line " + std::to_string(error.line) +
           (error.int2 > 0 ? ", column " + std::to_string(error.int2) : std::string()) + ": " + message;
}

// The parse's first error is its cause; libxml2 keeps only the last, which often merely
// follows from it ("premature end of data").
struct FirstParseError {
    bool seen = false;
    std::string text;
};

// A template, so that it fits libxml2's handler type whether or not that takes the error
// as const. The parser hands over its context, whose _private holds the FirstParseError.
template <typename Error>
void KeepFirstParseError(void* context, Error* error)
{
    auto* first = static_cast<FirstParseError*>(static_cast<xmlParserCtxtPtr>(context)->_private);
    if (!first || first->seen || !error || error->level < XML_ERR_ERROR)
        return;
    first->seen = true;
    first->text = DescribeParseError(*error);
}

}  // namespace

bool XmlNode::IsElement() const { return node_->type == XML_ELEMENT_NODE; }

bool XmlNode::IsWhitespaceText() const
{
    if (node_->type != XML_TEXT_NODE)
        return false;
    for (const xmlChar* p = node_->content; p && *p; ++p) {
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            return false;
    }
    return true;
}

std::string XmlNode::Name() const { return S(node_->name); }

std::string XmlNode::NamespaceUri() const
{
    if (node_->type != XML_ELEMENT_NODE || !node_->ns)
        return "";
    return S(node_->ns->href);
}

std::string XmlNode::Attribute(const std::string& name) const
{
    if (node_->type != XML_ELEMENT_NODE)
        return "";
    for (xmlAttr* attr = node_->properties; attr; attr = attr->next) {
        if (S(attr->name) != name)
            continue;
        std::string value;
        for (xmlNode* text = attr->children; text; text = text->next) {
            if (text->type == XML_TEXT_NODE)
                value += S(text->content);
        }
        return value;
    }
    return "";
}

std::vector<XmlNode> XmlNode::Children() const
{
    std::vector<XmlNode> children;
    for (xmlNode* child = node_->children; child; child = child->next)
        children.emplace_back(child);
    return children;
}

std::string XmlNode::Text() const
{
    std::string text;
    CollectText(node_, text);
    return text;
}

XmlNode XmlNode::AppendElement(const std::string& name)
{
    return XmlNode(Check(xmlNewChild(node_, nullptr, X(name), nullptr)));
}

XmlNode XmlNode::AppendElementNS(const std::string& namespaceUri, const std::string& qualifiedName)
{
    xmlNode* element = NewNamespacedElement(node_->doc, node_, namespaceUri, qualifiedName);
    if (!xmlAddChild(node_, element)) {
        xmlFreeNode(element);
        throw std::bad_alloc();
    }
    return XmlNode(element);
}

void XmlNode::AppendText(const std::string& text)
{
    xmlNode* node = Check(xmlNewTextLen(X(text), static_cast<int>(text.size())));
    // xmlAddChild merges adjacent text nodes, which keeps the bytes unchanged.
    if (!xmlAddChild(node_, node)) {
        xmlFreeNode(node);
        throw std::bad_alloc();
    }
}

void XmlNode::SetAttribute(const std::string& name, const std::string& value)
{
    Check(xmlSetProp(node_, X(name), X(value)));
}

XmlDocument::XmlDocument() : doc_(Check(xmlNewDoc(X("1.0")))) {}

XmlDocument::~XmlDocument() { xmlFreeDoc(doc_); }

std::unique_ptr<XmlDocument> XmlDocument::Parse(const std::string& bytes, std::string& error)
{
    if (bytes.size() > static_cast<size_t>(INT_MAX)) {
        error = "document too large";
        return nullptr;
    }
    xmlParserCtxtPtr ctxt = Check(xmlNewParserCtxt());
    FirstParseError first;
    ctxt->_private = &first;
    ctxt->sax->serror = KeepFirstParseError;
    // No XML_PARSE_NOENT (entities stay unexpanded), no DTD loading, no network, and
    // libxml2's default depth and size limits (no XML_PARSE_HUGE).
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDoc* doc = xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                    nullptr, options);
    if (!doc || !ctxt->wellFormed) {
        const xmlError* last = xmlCtxtGetLastError(ctxt);
        error = first.seen ? first.text : last ? DescribeParseError(*last) : "not well-formed XML";
        if (doc)
            xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        return nullptr;
    }
    xmlFreeParserCtxt(ctxt);
    return std::unique_ptr<XmlDocument>(new XmlDocument(doc));
}

void XmlDocument::AppendComment(const std::string& text)
{
    xmlNode* comment = Check(xmlNewDocComment(doc_, X(text)));
    if (!xmlAddChild(reinterpret_cast<xmlNode*>(doc_), comment)) {
        xmlFreeNode(comment);
        throw std::bad_alloc();
    }
}

XmlNode XmlDocument::AppendElement(const std::string& name)
{
    return AppendTopLevel(Check(xmlNewDocNode(doc_, nullptr, X(name), nullptr)));
}

XmlNode XmlDocument::AppendElementNS(const std::string& namespaceUri, const std::string& qualifiedName)
{
    return AppendTopLevel(NewNamespacedElement(doc_, nullptr, namespaceUri, qualifiedName));
}

XmlNode XmlDocument::AppendTopLevel(_xmlNode* element)
{
    if (!xmlDocGetRootElement(doc_))
        xmlDocSetRootElement(doc_, element);
    else if (!xmlAddChild(reinterpret_cast<xmlNode*>(doc_), element)) {
        xmlFreeNode(element);
        throw std::bad_alloc();
    }
    return XmlNode(element);
}

std::vector<XmlNode> XmlDocument::ElementsByTagName(const std::string& name) const
{
    std::vector<XmlNode> out;
    CollectElements(doc_->children, [&name](xmlNode* node) { return S(node->name) == name; }, out);
    return out;
}

std::vector<XmlNode> XmlDocument::ElementsByTagNameNS(const std::string& namespaceUri,
                                                     const std::string& localName) const
{
    std::vector<XmlNode> out;
    CollectElements(doc_->children,
                    [&](xmlNode* node) {
                        return node->ns && S(node->ns->href) == namespaceUri && S(node->name) == localName;
                    },
                    out);
    return out;
}

std::string XmlDocument::Serialize(const std::string& declaration) const
{
    xmlBufferPtr buffer = Check(xmlBufferCreate());
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL | XML_SAVE_AS_XML);
    if (!save) {
        xmlBufferFree(buffer);
        throw std::bad_alloc();
    }
    xmlSaveDoc(save, doc_);
    xmlSaveClose(save);
    std::string out = declaration + "\n";
    out.append(reinterpret_cast<const char*>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
    xmlBufferFree(buffer);
    return out;
}

}  // namespace platform

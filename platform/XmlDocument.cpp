#include "XmlDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <new>

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

void CollectElements(xmlNode* node, const std::string& name, std::vector<XmlNode>& out)
{
    for (xmlNode* child = node; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (S(child->name) == name)
            out.emplace_back(child);
        CollectElements(child->children, name, out);
    }
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
    // No XML_PARSE_NOENT (entities stay unexpanded), no DTD loading, no network, and
    // libxml2's default depth and size limits (no XML_PARSE_HUGE).
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDoc* doc = xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                    nullptr, options);
    if (!doc || !ctxt->wellFormed) {
        const xmlError* err = xmlCtxtGetLastError(ctxt);
        error = err && err->message ? S(reinterpret_cast<const xmlChar*>(err->message)) : "not well-formed XML";
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        if (err)
            error = "line " + std::to_string(err->line) + ": " + error;
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
    xmlNode* element = Check(xmlNewDocNode(doc_, nullptr, X(name), nullptr));
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
    CollectElements(doc_->children, name, out);
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

#pragma once
// An HTML page with %Name% placeholders, loaded from a template file or from a page built
// into the program, then filled. Text is Shift-JIS bytes.
//
// A value once inserted is never searched again: neither a later Replace nor a later
// ExpandFromView sees placeholders inside it, and no placeholder is formed across its
// edges. Values taken from a request (a URL, a header) therefore cannot pull other values
// into the page.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CByteBuffer;
class CConfigAccessor;

class CHtmlTemplate {
public:
    // A leaf of this name is never filled in by ExpandFromView: it holds a clear-text
    // password.
    static constexpr const char* kWithheldKey = "Passwd";

    CHtmlTemplate() = default;
    virtual ~CHtmlTemplate() = default;

    // Replaces the text with the file's bytes up to its first NUL byte: 0. Any failure to
    // open or read the file: -1 with the text empty.
    int LoadFile(const std::string& path);
    // The same for a page built into the program (BuiltinPages.h): 0, or -1 with the text
    // empty for an unknown identifier.
    int LoadResource(int identifier);

    // Replaces every "%key%" of the template text (case-sensitive, at Shift-JIS character
    // boundaries) with `value`, inserted as given: the caller escapes it when it is not
    // markup.
    void Replace(const std::string& key, std::string value);
    // For each leaf of the view's node, in stored order: replaces every "%Key%" with the
    // leaf's value as stored, HTML-escaped (no value of a request's or the server's nodes
    // is markup). The Passwd leaf is skipped. Placeholders that no leaf names stay.
    void ExpandFromView(const CConfigAccessor& view);
    // The same for one leaf (key, value), as a node that is not read from a tree gives it.
    void ExpandLeaf(std::string_view key, std::string_view value);

    std::string GetText() const;
    // The page's bytes in place of the buffer's, without joining them into a string first.
    void CopyTo(CByteBuffer& buffer) const;
    int64_t GetLength() const;
    bool IsEmpty() const { return GetLength() == 0; }

    // & < > " ' as character references, so that the text shows as itself in element
    // content and in quoted attribute values. Bytes are taken one by one: none of the five
    // can be the second byte of a Shift-JIS character.
    static std::string EscapeHtml(const std::string& text);

private:
    struct Piece {
        std::string text;
        bool inserted;  // a filled-in value, not searched for placeholders
    };

    void SetText(std::string text);
    // False when "%key%" cannot occur in the text that is still searched.
    bool MayHold(const std::string& key) const;

    std::vector<Piece> pieces_;
    // Sorted: the bytes between each '%' that starts a character and the next '%' of the
    // loaded text. Replacing only removes placeholders, so these stay a superset of the
    // names left to fill.
    std::vector<std::string> names_;
};

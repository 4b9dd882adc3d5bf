#include "http/HtmlTemplate.h"

#include "http/BuiltinPages.h"

#include "ConfigAccessor.h"
#include "CRuntime.h"
#include "FileIo.h"

void CHtmlTemplate::SetText(std::string text)
{
    // A page ends at its first NUL byte, as a C string would.
    const std::string::size_type nul = text.find('\0');
    if (nul != std::string::npos)
        text.erase(nul);
    pieces_.clear();
    pieces_.push_back({std::move(text), false});
}

int CHtmlTemplate::LoadFile(const std::string& path)
{
    std::string bytes;
    std::string error;
    if (platform::ReadWholeFile(path, bytes, error) != platform::FileReadResult::Read) {
        pieces_.clear();
        return -1;
    }
    SetText(std::move(bytes));
    return 0;
}

int CHtmlTemplate::LoadResource(int identifier)
{
    std::string bytes;
    if (!FindBuiltinPage(identifier, bytes)) {
        pieces_.clear();
        return -1;
    }
    SetText(std::move(bytes));
    return 0;
}

void CHtmlTemplate::Replace(const std::string& key, const std::string& value)
{
    const std::string pattern = "%" + key + "%";
    std::vector<Piece> result;
    result.reserve(pieces_.size());
    for (Piece& piece : pieces_) {
        if (piece.inserted) {
            result.push_back(std::move(piece));
            continue;
        }
        std::string::size_type from = 0;
        for (;;) {
            const std::string::size_type at = platform::_mbsstr(piece.text, pattern, from);
            if (at == std::string::npos)
                break;
            if (at > from)
                result.push_back({piece.text.substr(from, at - from), false});
            result.push_back({value, true});
            from = at + pattern.size();
        }
        if (from == 0)
            result.push_back(std::move(piece));
        else if (from < piece.text.size())
            result.push_back({piece.text.substr(from), false});
    }
    pieces_ = std::move(result);
}

void CHtmlTemplate::ExpandFromView(const CConfigAccessor& view)
{
    std::vector<CConfigLeaf> leaves;
    view.GetLeaves(leaves);
    for (const CConfigLeaf& leaf : leaves) {
        if (leaf.key == kWithheldKey)
            continue;
        Replace(leaf.key, EscapeHtml(leaf.value));
    }
}

std::string CHtmlTemplate::GetText() const
{
    std::string text;
    text.reserve(static_cast<std::string::size_type>(GetLength()));
    for (const Piece& piece : pieces_)
        text += piece.text;
    return text;
}

int64_t CHtmlTemplate::GetLength() const
{
    int64_t length = 0;
    for (const Piece& piece : pieces_)
        length += static_cast<int64_t>(piece.text.size());
    return length;
}

std::string CHtmlTemplate::EscapeHtml(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c; break;
        }
    }
    return out;
}

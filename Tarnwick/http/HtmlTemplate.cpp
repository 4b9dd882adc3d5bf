#include "http/HtmlTemplate.h"

#include "http/BuiltinPages.h"

#include "ByteBuffer.h"
#include "ConfigAccessor.h"
#include "CRuntime.h"
#include "FileIo.h"

#include <algorithm>
#include <cstring>

namespace {

// The first '%' at or after `from` that starts a Shift-JIS character, `from` being the
// start of one; npos when none. Only '%' bytes are looked at: the one before is the
// second byte of a character exactly when it ends an odd run of lead bytes.
std::string::size_type FindPercentAtCharacter(const std::string& text, std::string::size_type from)
{
    const char* data = text.data();
    for (;;) {
        const void* hit = std::memchr(data + from, '%', text.size() - from);
        if (hit == nullptr)
            return std::string::npos;
        const std::string::size_type at = static_cast<const char*>(hit) - data;
        std::string::size_type leads = 0;
        while (at - leads > from && platform::IsLeadByte(static_cast<unsigned char>(data[at - leads - 1])))
            ++leads;
        if (leads % 2 == 0)
            return at;
        from = at + 1;
    }
}

// The same as platform::_mbsstr for a pattern that starts with '%'.
std::string::size_type FindPlaceholder(const std::string& text, const std::string& pattern,
                                       std::string::size_type from)
{
    for (;;) {
        const std::string::size_type at = FindPercentAtCharacter(text, from);
        if (at == std::string::npos || text.compare(at, pattern.size(), pattern) == 0)
            return at;
        from = at + 1;
    }
}

}  // namespace

void CHtmlTemplate::SetText(std::string text)
{
    // A page ends at its first NUL byte, as a C string would.
    const std::string::size_type nul = text.find('\0');
    if (nul != std::string::npos)
        text.erase(nul);
    names_.clear();
    for (std::string::size_type open = FindPercentAtCharacter(text, 0); open != std::string::npos;
         open = FindPercentAtCharacter(text, open + 1)) {
        const std::string::size_type close = text.find('%', open + 1);
        if (close == std::string::npos)
            break;
        names_.push_back(text.substr(open + 1, close - open - 1));
    }
    std::sort(names_.begin(), names_.end());
    names_.erase(std::unique(names_.begin(), names_.end()), names_.end());
    pieces_.clear();
    pieces_.push_back({std::move(text), false});
}

bool CHtmlTemplate::MayHold(const std::string& key) const
{
    // A key with a '%' of its own spans more than one of the collected names.
    return key.find('%') != std::string::npos || std::binary_search(names_.begin(), names_.end(), key);
}

int CHtmlTemplate::LoadFile(const std::string& path)
{
    std::string bytes;
    std::string error;
    if (platform::ReadWholeFile(path, bytes, error) != platform::FileReadResult::Read) {
        pieces_.clear();
        names_.clear();
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
        names_.clear();
        return -1;
    }
    SetText(std::move(bytes));
    return 0;
}

void CHtmlTemplate::Replace(const std::string& key, std::string value)
{
    if (!MayHold(key))
        return;
    const std::string pattern = "%" + key + "%";
    std::vector<Piece> result;
    result.reserve(pieces_.size());
    // Each place gets a copy of the value but the last, which takes the value itself: an
    // index page's listing, the largest part of the page, is then never copied.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t pending = kNone;  // the latest place, in `result`
    for (Piece& piece : pieces_) {
        if (piece.inserted) {
            result.push_back(std::move(piece));
            continue;
        }
        std::string::size_type from = 0;
        for (;;) {
            const std::string::size_type at = FindPlaceholder(piece.text, pattern, from);
            if (at == std::string::npos)
                break;
            if (at > from)
                result.push_back({piece.text.substr(from, at - from), false});
            if (pending != kNone)
                result[pending].text = value;
            pending = result.size();
            result.push_back({std::string(), true});
            from = at + pattern.size();
        }
        if (from == 0)
            result.push_back(std::move(piece));
        else if (from < piece.text.size())
            result.push_back({piece.text.substr(from), false});
    }
    if (pending != kNone)
        result[pending].text = std::move(value);
    pieces_ = std::move(result);
}

void CHtmlTemplate::ExpandFromView(const CConfigAccessor& view)
{
    std::vector<CConfigLeaf> leaves;
    view.GetLeaves(leaves);
    for (const CConfigLeaf& leaf : leaves)
        ExpandLeaf(leaf.key, leaf.value);
}

void CHtmlTemplate::ExpandLeaf(std::string_view key, std::string_view value)
{
    const std::string name(key);
    if (name == kWithheldKey || !MayHold(name))
        return;
    Replace(name, EscapeHtml(std::string(value)));
}

void CHtmlTemplate::CopyTo(CByteBuffer& buffer) const
{
    buffer.SetLength(0);
    for (const Piece& piece : pieces_)
        buffer.AppendCString(piece.text);
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

#include "Template.h"

#include "ConfigAccessor.h"

CTemplate::CTemplate() = default;

CTemplate::~CTemplate() = default;

void CTemplate::Parse(const std::string& format)
{
    // "%" (0x25) is never the trail byte of a double-byte character, so a byte search is safe.
    std::string::size_type position = 0;
    for (;;) {
        const std::string::size_type open = format.find('%', position);
        const std::string::size_type close =
            open == std::string::npos ? std::string::npos : format.find('%', open + 1);
        if (close == std::string::npos) {
            tail_ = format.substr(position);
            return;
        }
        segments_.push_back(Segment{format.substr(position, open - position),
                                    format.substr(open + 1, close - open - 1), std::string(), 0});
        ++unfilled_;
        position = close + 1;
    }
}

void CTemplate::Unfill()
{
    for (Segment& segment : segments_)
        segment.filled = 0;
    unfilled_ = static_cast<int>(segments_.size());
}

void CTemplate::SetValue(std::string_view name, std::string_view value)
{
    for (Segment& segment : segments_) {
        if (!segment.filled && segment.name == name) {
            segment.value.assign(value.data(), value.size());
            segment.filled = 1;
            --unfilled_;
            return;
        }
    }
}

void CTemplate::SetFromConfig(const CConfigAccessor& accessor)
{
    if (unfilled_ == 0 || accessor.GetTree() == nullptr)
        return;
    accessor.VisitLeaves([this](const CConfigLeaf& leaf) {
        if (unfilled_ > 0)
            SetValue(leaf.key, leaf.value);
    });
}

int CTemplate::CountUnfilled() const { return unfilled_; }

std::string CTemplate::GetText(const std::string& substitute) const
{
    std::string text;
    AppendText(text, substitute);
    return text;
}

void CTemplate::AppendText(std::string& out, std::string_view substitute) const
{
    for (const Segment& segment : segments_) {
        out += segment.literal;
        if (segment.filled)
            out += segment.value;
        else if (substitute.empty())
            out += segment.name;
        else
            out += substitute;
    }
    out += tail_;
}

#include "Template.h"

#include "ConfigAccessor.h"
#include "InPlaceAppender.h"

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
                                    format.substr(open + 1, close - open - 1), std::string(), std::string_view(), 0});
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

CTemplate::Segment* CTemplate::Fill(std::string_view name)
{
    for (Segment& segment : segments_) {
        if (!segment.filled && segment.name == name) {
            segment.filled = kViewed;
            --unfilled_;
            return &segment;
        }
    }
    return nullptr;
}

void CTemplate::SetValue(std::string_view name, std::string_view value)
{
    if (Segment* segment = Fill(name)) {
        segment->stored.assign(value.data(), value.size());
        segment->filled = kStored;
    }
}

void CTemplate::ViewValue(std::string_view name, std::string_view value)
{
    if (Segment* segment = Fill(name))
        segment->value = value;
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
    const auto shown = [&substitute](const Segment& segment) -> std::string_view {
        if (segment.filled == kStored)
            return segment.stored;
        if (segment.filled)
            return segment.value;
        return substitute.empty() ? std::string_view(segment.name) : substitute;
    };
    // Sized once and written in place: a log line is made for every request.
    std::size_t size = tail_.size();
    for (const Segment& segment : segments_)
        size += segment.literal.size() + shown(segment).size();
    CInPlaceAppender line(out, size);
    for (const Segment& segment : segments_) {
        line.Put(segment.literal);
        line.Put(shown(segment));
    }
    line.Put(tail_);
}

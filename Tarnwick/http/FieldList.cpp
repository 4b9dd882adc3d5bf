#include "http/FieldList.h"

#include "ConfigClass.h"
#include "CRuntime.h"

#include <utility>

namespace {

// A list filled anew for every request mostly gets the names (and many values) its places
// held before: a text that already reads so is left as it is.
void Assign(std::string& text, std::string_view value)
{
    if (text != value)
        text.assign(value.data(), value.size());
}

}  // namespace

void CFieldList::Set(std::string_view name, std::string_view value)
{
    for (std::size_t i = 0; i < count_; ++i) {
        if (fields_[i].name == name) {
            Assign(fields_[i].value, value);
            return;
        }
    }
    if (count_ == fields_.size())
        fields_.emplace_back();
    Field& field = fields_[count_++];
    Assign(field.name, name);
    Assign(field.value, value);
}

const std::string* CFieldList::Find(std::string_view name) const
{
    for (std::size_t i = 0; i < count_; ++i)
        if (fields_[i].name == name)
            return &fields_[i].value;
    return nullptr;
}

const std::string* CFieldList::FindIgnoringCase(std::string_view name) const
{
    for (std::size_t i = 0; i < count_; ++i)
        if (platform::EqualsIgnoringCase(fields_[i].name, name))
            return &fields_[i].value;
    return nullptr;
}

void CFieldList::EraseIgnoringCase(std::string_view name)
{
    // The kept fields close up in order; the removed ones move behind the list, where
    // their storage waits for reuse.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        if (platform::EqualsIgnoringCase(fields_[i].name, name))
            continue;
        if (kept != i)
            std::swap(fields_[kept], fields_[i]);
        ++kept;
    }
    count_ = kept;
}

void CFieldList::ReplaceIgnoringCase(std::string_view name, std::string_view value)
{
    for (std::size_t i = 0; i < count_; ++i)
        if (platform::EqualsIgnoringCase(fields_[i].name, name))
            Assign(fields_[i].value, value);
}

void FillFieldNode(CConfigNode& parent, std::string_view name, const CFieldList& fields)
{
    if (parent.GetSectionCount() == 0)
        parent.AppendChild(name);
    parent.TruncateChildren(1);
    CConfigNode& node = parent.GetChild(0);
    node.SetName(name);
    node.TruncateChildren(0);
    std::size_t leaves = 0;
    for (const CFieldList::Field& field : fields)
        node.SetLeafAt(leaves++, field.name, field.value);
    node.TruncateLeaves(leaves);
}

#pragma once
// An ordered list of named text fields, as a request's or an answer's header lines are
// kept: a name is held once (set again, the field keeps its place and takes the new
// value), names are compared exactly when set and either way when looked up. The texts'
// storage is kept across Clear and Erase, so a list filled anew for every request of a
// connection allocates only when a field outgrows what its place held before.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CConfigNode;

class CFieldList {
public:
    struct Field {
        std::string name;
        std::string value;
    };

    // Empties the list, keeping its storage.
    void Clear() { count_ = 0; }
    std::size_t Size() const { return count_; }
    bool Empty() const { return count_ == 0; }
    const Field& operator[](std::size_t index) const { return fields_[index]; }
    const Field* begin() const { return fields_.data(); }
    const Field* end() const { return fields_.data() + count_; }

    // The field named exactly `name` takes `value`; a new name is added at the end.
    void Set(std::string_view name, std::string_view value);
    // The value of the first field named exactly `name`; null when there is none.
    const std::string* Find(std::string_view name) const;
    // The same with the name matched without regard to case (platform::EqualsIgnoringCase).
    const std::string* FindIgnoringCase(std::string_view name) const;
    // Removes every field whose name matches without regard to case; the others keep
    // their order.
    void EraseIgnoringCase(std::string_view name);
    // Every field whose name matches without regard to case takes `value`.
    void ReplaceIgnoringCase(std::string_view name, std::string_view value);

private:
    std::vector<Field> fields_;  // the first count_ are the list; the rest keep storage
    std::size_t count_ = 0;
};

// Makes `parent`'s children exactly one node named `name`, whose leaves are `fields` in
// their order and which has no children: the form a request's or an answer's header lines
// take in the context tree. The nodes' storage is reused.
void FillFieldNode(CConfigNode& parent, std::string_view name, const CFieldList& fields);

#pragma once
// The rows of the controller's report lists, kept apart from the view so that a page can
// hold values the list never shows, and so that finding, replacing and sorting rows is
// tested without a window. Texts are CP932.

#include <cstddef>
#include <string>
#include <vector>

struct CReportRow {
    int image = 0;                     // index into the list's image list
    std::string key;                   // the first column; identity for find, replace, sort
    std::vector<std::string> columns;  // the second, third ... columns
    std::vector<std::string> hidden;   // never shown: the users dialog keeps the password here
    int number = 0;                    // never shown: the CGI page keeps the executable flag here
};

// `texts[index]`, or "" past the end: a row's columns and hidden values may be fewer than
// its list has.
std::string TextAt(const std::vector<std::string>& texts, size_t index);

class CReportRowArray {
public:
    int GetSize() const { return static_cast<int>(rows_.size()); }
    // 0 <= index < GetSize(). The reference lives until the array next changes its size.
    CReportRow& GetAt(int index) { return rows_[static_cast<size_t>(index)]; }
    const CReportRow& GetAt(int index) const { return rows_[static_cast<size_t>(index)]; }

    // With `replace`, overwrites the first row whose key equals row.key byte for byte;
    // otherwise, or when no row has that key, appends. Returns the row's index.
    int SetRow(const CReportRow& row, bool replace);
    // Index of the first row whose key equals `key` byte for byte, or -1.
    int FindByKey(const std::string& key) const;
    // Ascending by key, bytes unsigned and a double-byte character compared whole; rows with
    // equal keys keep their order.
    void Sort();
    // Removes the rows at these indices, the last first so that the others stay valid
    // meanwhile. Repeated and out-of-range indices are passed over.
    void RemoveAt(std::vector<int> indices);
    void RemoveAll() { rows_.clear(); }

private:
    std::vector<CReportRow> rows_;
};

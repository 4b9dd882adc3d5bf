#include "core/ReportRow.h"

#include "CRuntime.h"

#include <algorithm>
#include <functional>

std::string TextAt(const std::vector<std::string>& texts, size_t index)
{
    return index < texts.size() ? texts[index] : std::string();
}

int CReportRowArray::SetRow(const CReportRow& row, bool replace)
{
    const int found = replace ? FindByKey(row.key) : -1;
    if (found >= 0) {
        rows_[static_cast<size_t>(found)] = row;
        return found;
    }
    rows_.push_back(row);
    return GetSize() - 1;
}

int CReportRowArray::FindByKey(const std::string& key) const
{
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].key == key)
            return static_cast<int>(i);
    }
    return -1;
}

void CReportRowArray::Sort()
{
    // Stable, so that rows a page added with the same key stay in the order it gave them.
    std::stable_sort(rows_.begin(), rows_.end(), [](const CReportRow& a, const CReportRow& b) {
        return platform::_mbscmp(a.key, b.key) < 0;
    });
}

void CReportRowArray::RemoveAt(std::vector<int> indices)
{
    std::sort(indices.begin(), indices.end(), std::greater<int>());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    for (int index : indices) {
        if (index >= 0 && index < GetSize())
            rows_.erase(rows_.begin() + index);
    }
}

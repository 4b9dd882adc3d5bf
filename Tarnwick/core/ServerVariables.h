#pragma once
// The server's value filter on its settings tree: every setting read has its date and
// time placeholders (%Year%, %Time%, %GMT% ...) filled for the moment of reading, then
// the names of the ServerInfo leaves (%ServerRoot%, %ServerName% ...).

#include "ConfigAccessor.h"

#include <cstddef>
#include <cstdint>

class CServerVariables : public CConfigValueFilter {
public:
    // `serverInfo` views the core's ServerInfo node; the tree must outlive the filter.
    explicit CServerVariables(const CConfigAccessor& serverInfo);
    // A value without '%' holds no placeholder and comes back unchanged.
    std::string Filter(std::string_view key, std::string_view value) override;

    // The time leaves for a moment, in local time (GMT as an HTTP date): Date, Time and
    // GMT, and with allNames the other nine.
    static void SetTimeLeaves(const CConfigAccessor& node, int64_t secondsSince1970, int allNames = 1);

private:
    // Expansions kept per thread: more than the values with placeholders one request
    // reads, so that they do not evict each other; each miss replaces the oldest.
    static constexpr size_t kKeptExpansions = 4;

    // `value` with the placeholders filled for the second `second`.
    std::string Expand(std::string_view value, int64_t second);

    CConfigAccessor serverInfo_;
    // Tells this filter's kept expansions from those of an earlier one at the same address.
    const uint64_t id_;
};

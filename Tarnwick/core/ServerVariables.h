#pragma once
// The server's value filter on its settings tree: every setting read has its date and
// time placeholders (%Year%, %Time%, %GMT% ...) filled for the moment of reading, then
// the names of the ServerInfo leaves (%ServerRoot%, %ServerName% ...).

#include "ConfigAccessor.h"

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
    CConfigAccessor serverInfo_;
};

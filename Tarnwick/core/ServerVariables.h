#pragma once
// The server's value filter on its settings tree: every setting read has its date and
// time placeholders (%Year%, %Time%, %GMT% ...) filled for the moment of reading, then
// the names of the ServerInfo leaves (%ServerRoot%, %ServerName% ...).

#include "ConfigAccessor.h"

#include <cstdint>

class CSecondTexts;

class CServerVariables : public CConfigValueFilter {
public:
    // `serverInfo` views the core's ServerInfo node; the tree must outlive the filter.
    explicit CServerVariables(const CConfigAccessor& serverInfo);
    // A value without '%' holds no placeholder and comes back unchanged.
    std::string Filter(std::string_view key, std::string_view value) override;

private:
    // `value` with the placeholders filled from the texts of one second.
    std::string Expand(std::string_view value, CSecondTexts& texts);

    CConfigAccessor serverInfo_;
    // Tells this filter's kept expansions from those of an earlier one at the same address.
    const uint64_t id_;
};

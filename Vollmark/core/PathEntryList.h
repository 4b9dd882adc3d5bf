#pragma once
// What the directory list tells the user about its entries without a window: where an
// entry answers, the question before entries are deleted, and the warning while there is
// none. With no path entry the server answers no request at all, so both say so.
// Texts are CP932.

#include "ConfigAccessor.h"

#include <string>
#include <vector>

// Where an entry answers, as its row shows it: "<www> /pub/" under a virtual host other
// than "*", else the server path alone.
std::string PathEntryAddress(const CConfigAccessor& entry);

// The deletion of the selected entries of `path` (the "Path" node), as the delete button
// asks for it.
struct PathDeletion {
    std::vector<std::string> names;  // the selected entries, in stored order
    bool leavesNone = false;         // they are all the entries there are
    // Names each entry (its description and address) and, when none would be left, says
    // that the server would then answer nothing; ends in the question. "" when none is
    // selected.
    std::string question;
};
PathDeletion PlanPathDeletion(const CConfigAccessor& path);

// "" while `setting` (a "Setting" node) holds a path entry, else the warning that the
// server answers no request. Creates no node.
std::string NoPathEntryWarning(const CConfigAccessor& setting);

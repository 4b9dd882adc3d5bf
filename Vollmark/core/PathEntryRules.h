#pragma once
// What the pages of a path entry decide without a window: the host patterns an access list
// takes, how an address file fills one, how the entry's paths are written, which addresses
// its lists let in, and the stored form of its lists. Texts are CP932.

#include "ConfigAccessor.h"

#include <string>
#include <string_view>
#include <vector>

// Whether `text` is a host pattern: four fields cut at '.', each "*", "?" or decimal digits
// of any length (no range check). A run of dots is one cut and leading dots are passed
// over; an empty text, a fifth field, a trailing dot or any other byte fails.
bool CheckAddress(const std::string& text);

// The patterns of an address file, in file order. Lines end in LF or CR LF; empty lines
// are passed over; every leading and trailing ',' and ':' is cut off a line (blanks stay);
// a line that nothing is left of ends the file; lines CheckAddress refuses are dropped.
std::vector<std::string> ParseAddressFile(const std::string& contents);

// An entry needs a description, a server path, and something to serve: a local path, a
// forward or a virtual host.
bool HasRequiredPathFields(const std::string& info, const std::string& serverPath, const std::string& localPath,
                           const std::string& forward, const std::string& virtualHost);

// Ends in '/', then starts with one: "pub" gives "/pub/", "/" stays "/".
std::string NormalizeServerPath(const std::string& serverPath);

// Ends in '/' unless empty. The last character is tested, so a double-byte character
// whose trail byte reads as a separator still gets its '/'.
std::string NormalizeLocalPath(const std::string& localPath);

// As the server decides: an address matching a denied pattern is refused, else one
// matching an accepted pattern is let in, else it is refused. Patterns are wildcards
// compared without ASCII case.
bool IsHostAccepted(const std::vector<std::string>& denied, const std::vector<std::string>& accepted,
                    const std::string& address);

// Whether the text holds the settings path separator "::", found byte by byte as the tree
// cuts paths: as a key it would make nodes instead of a leaf.
bool HoldsSettingsSeparator(const std::string& text);

// The rows of a simple list node (each leaf's key and value hold the row), in stored
// order; creates no node.
std::vector<std::string> ReadSimpleList(const CConfigAccessor& list);

// Replaces the node `name` of `parent` with one leaf per row (key = value = the row), in
// the order given, as one step of the tree. Rows holding "::" are left out; with no rows
// the node is gone.
void StoreSimpleList(const CConfigAccessor& parent, std::string_view name, const std::vector<std::string>& rows);

struct ServerUser {
    std::string name;
    std::string comment;
};

// The users that `setting` (a "Setting" node) lets log in, as registered under
// "User::Enable"; disabled users are not among them. Creates no node.
std::vector<ServerUser> ListEnabledUsers(const CConfigAccessor& setting);

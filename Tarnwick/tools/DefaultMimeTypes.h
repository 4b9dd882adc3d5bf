#pragma once
// The MIME table of a default server root: the system's own table when there is one, else a
// short list of the types a small site serves.

#include <string>
#include <utility>
#include <vector>

// A type and its extensions (without dot, lower case), in the order the source lists them.
using MimeTypeList = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Where Debian keeps its table (package media-types).
constexpr const char* kSystemMimeTypesFile = "/etc/mime.types";

// The lines of a mime.types text ("type ext ext ..."; '#' starts a comment). Types without
// an extension are left out, and so is an extension an earlier type already claimed: the
// server takes the first match anyway.
MimeTypeList ParseMimeTypes(const std::string& text);

// The table in `file` (native path) when it can be read and lists any type, else the
// built-in list.
MimeTypeList DefaultMimeTypes(const std::string& file = kSystemMimeTypesFile);

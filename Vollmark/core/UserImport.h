#pragma once
// The account files that the users dialog imports: one account a line, its name, password
// and comment cut at commas or tabs. The format has no quoting and no header line. Files
// come from other programs, so they may be UTF-8 as well as Shift-JIS; what comes out is
// CP932 like every text inside the controller.

#include <cstddef>
#include <string>
#include <vector>

struct ImportedUser {
    std::string name;
    std::string password;
    std::string comment;
};

// The line of `text` that starts at `pos`, up to and including its LF (or up to the end),
// with blanks, tabs, CR and LF cut off both ends; `pos` moves past it. A line is read whole
// whatever its length, so the tail of a long line never becomes an account of its own.
// Call while pos < text.size().
std::string ReadTrimmedLine(const std::string& text, size_t& pos);

// Cuts the first field off `rest` and returns it with blanks, tabs, CR and LF cut off both
// ends: the text before the first ',' when `rest` holds one (even after a tab), else before
// the first tab, else all of it; `rest` keeps what follows the separator. Double quotes
// are ordinary characters.
std::string SplitField(std::string& rest);

// The accounts of CP932 text, in line order: a line's first three fields are the name, the
// password and the comment (more fields are dropped), and a line without a name or a
// password is passed over. Equal names are all kept; the list that shows them replaces.
std::vector<ImportedUser> ParseUserLines(const std::string& text);

// `bytes` in CP932: what DetectCharset takes for UTF-8, EUC-JP or UTF-16LE is converted
// (a byte-order mark dropped), anything else is taken to be CP932 already.
std::string DecodeUserFile(const std::string& bytes);

// The accounts of the file at `path` (CP932). A file that cannot be read gives none: the
// import has nothing to tell the user beyond an empty list.
std::vector<ImportedUser> ReadUserFile(const std::string& path);

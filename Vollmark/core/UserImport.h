#pragma once
// The account files that the users dialog imports: one account a line, its name, password
// and comment cut at commas or tabs. The format has no quoting and no header line. Files
// come from other programs, so they may be UTF-8 as well as Shift-JIS; what comes out is
// CP932 like every text inside the controller, and a line that CP932 cannot hold is left
// out rather than stored with a substitute.
//
// ReadTrimmedLine and SplitField cut only at ASCII bytes, which are never part of a
// multi-byte character in CP932, EUC-JP or UTF-8: they serve text in any of these.

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

// RFC 7617 2: the user-id of Basic credentials ends at the first ':', so an account whose
// name holds one can never log in.
bool UserNameHoldsColon(const std::string& name);

// What an account file gives. Lines are numbered from 1.
struct UserFile {
    // The accounts, in line order: a line's first three fields are the name, the password
    // and the comment (more fields are dropped), and a line without a name or a password
    // is passed over. Equal names are all kept; the list that shows them replaces.
    std::vector<ImportedUser> users;
    // Lines left out because one of those fields holds a character Shift-JIS cannot hold
    // (or bytes that are no character of the file's encoding).
    std::vector<int> unencodableLines;
    // Lines left out because their name holds ':'.
    std::vector<int> colonLines;
};

// The accounts of a file's bytes, as CP932. Files come from other programs: what
// DetectCharset takes for UTF-8, EUC-JP or UTF-16LE is read so (a byte-order mark
// dropped), anything else is taken to be CP932 already.
UserFile ParseUserFile(const std::string& bytes);

// Items for a message box, ", " between them: the first kListedItems, then how many more
// there are ("ほか N 件").
constexpr size_t kListedItems = 20;  // a box taller than the screen would hide its buttons
std::string ListForMessage(const std::vector<std::string>& items);
// The same of line numbers.
std::string ListForMessage(const std::vector<int>& lines);

// The accounts of the file at `path` (CP932). A file that cannot be read gives none: the
// import has nothing to tell the user beyond an empty list.
UserFile ReadUserFile(const std::string& path);

#pragma once
// The HTML pages compiled into the program, used when no template file can be read: the
// status page and the directory index page. Each is Shift-JIS text with CR LF line ends,
// holding the placeholders that CHtmlTemplate fills.

#include <string>

// The status page (%ResponseText%, %Method%, %Object%, %Info%, %ServerSignature%).
constexpr int kStatusPageResource = 129;
// The directory index page (%Object%, %FileList%, %ServerSignature%).
constexpr int kDirectoryPageResource = 130;

// True with the page's bytes for a known identifier; false, `bytes` unchanged, otherwise.
bool FindBuiltinPage(int identifier, std::string& bytes);

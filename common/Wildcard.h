#pragma once
// Wildcard patterns for host names, virtual hosts, access lists and file-name filters.
// "*" stands for any run of bytes, the empty one included; "?" for exactly one byte; every
// other byte for itself. There is no escape. Matching is over bytes, so "?" takes one byte
// of a double-byte character.

#include <string>

// 1 when the pattern matches the whole text, else 0; byte-wise and case-sensitive.
// Patterns may come from clients (Host headers): the cost is at most pattern length times
// text length, with constant stack, whatever the input.
int WildcardMatch(const std::string& pattern, const std::string& text);

// WildcardMatch on copies of both with ASCII A-Z lowered outside double-byte characters
// (platform::_mbslwr); double-byte characters are compared as they are.
int WildcardMatchNoCase(const std::string& pattern, const std::string& text);

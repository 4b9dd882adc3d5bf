#pragma once
// Base64 decoding (RFC 4648 alphabet) for the credentials of a Basic authorization header.
// The decoder never fails: the first byte outside the alphabet, padding included, ends the
// input and whatever was decoded up to there is the result.

#include <string>

// Room for the decoded bytes of `text` and a terminating zero.
int Base64DecodedLength(const char* text);

// Decodes `text` into `output` (at least Base64DecodedLength(text) bytes); returns the
// number of bytes written. A lone last character decodes to nothing.
int Base64DecodeBytes(unsigned char* output, const char* text);

// The decoded text, cut at its first zero byte.
std::string Base64Decode(const std::string& text);

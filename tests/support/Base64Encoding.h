#pragma once
// Base64 encoding for tests that send credentials (a Basic authorization header). Written
// apart from the server's decoder, so a fault there is not mirrored here.

#include <string>

namespace testsupport {

// `bytes` in the RFC 4648 alphabet, padded with '=' to a multiple of four characters.
std::string Base64Encode(const std::string& bytes);

}  // namespace testsupport

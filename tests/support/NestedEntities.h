#pragma once
// The classic entity-expansion attack on XML parsers, for tests that prove a parser refuses it.

#include <string>

namespace testsupport {

// Internal DTD declarations of entities l0 to l9, each but l0 made of ten references to
// the one below: "&l9;" expands to 10^9 copies of l0's twelve bytes. Goes between the
// brackets of a <!DOCTYPE name [...]>.
std::string NestedEntityDeclarations();

}  // namespace testsupport

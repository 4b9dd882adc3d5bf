#include "NestedEntities.h"

namespace testsupport {

std::string NestedEntityDeclarations()
{
    std::string dtd = "<!ENTITY l0 \"lollollollol\">";
    for (int level = 1; level <= 9; ++level) {
        dtd += "<!ENTITY l" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i)
            dtd += "&l" + std::to_string(level - 1) + ";";
        dtd += "\">";
    }
    return dtd;
}

}  // namespace testsupport

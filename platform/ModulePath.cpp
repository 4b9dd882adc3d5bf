#include "ModulePath.h"

#include "TextCodec.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace platform {

std::string GetModulePath(int directoryOnly)
{
    if (directoryOnly) {
        const char* root = std::getenv("TARNWICK_ROOT");
        if (root && *root) {
            std::string path = Utf8ToCp932(root);
            if (path.back() != '/')
                path += '/';
            return path;
        }
    }
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string path = n > 0 ? Utf8ToCp932(std::string(buffer, static_cast<size_t>(n))) : std::string();
    if (directoryOnly) {
        const std::string::size_type slash = path.rfind('/');
        path = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    }
    return path;
}

}  // namespace platform

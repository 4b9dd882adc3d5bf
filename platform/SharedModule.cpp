#include "SharedModule.h"

#include "FileIo.h"
#include "TextCodec.h"

#include <dlfcn.h>

namespace platform {

void* LoadSharedModule(const std::string& file, std::string* error)
{
    void* module = ::dlopen(NativePath(file).c_str(), RTLD_NOW | RTLD_LOCAL);
    // dlerror names the file, in the file system's encoding.
    if (!module)
        *error = Utf8ToCp932(::dlerror());
    return module;
}

void* FindModuleSymbol(void* module, const char* name) { return ::dlsym(module, name); }

void UnloadSharedModule(void* module) { ::dlclose(module); }

}  // namespace platform

#pragma once
// Loading a shared library at run time, in place of LoadLibrary and GetProcAddress.

#include <string>

namespace platform {

// Loads the library at `file` (CP932) with its symbols resolved now and kept to itself:
// its handle, or null with `error` set to the loader's reason, which names the file
// (CP932).
void* LoadSharedModule(const std::string& file, std::string* error);
// The address of `name` in a loaded library, or null when it has none.
void* FindModuleSymbol(void* module, const char* name);
void UnloadSharedModule(void* module);

}  // namespace platform

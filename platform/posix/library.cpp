// Run-time loading through dlopen; the build gives every program an rpath of
// $ORIGIN, so a library beside the program is found by the normal search.
#include <dlfcn.h>

#include "platform/library.h"

namespace launcher {

std::string SharedLibraryFileName(const std::string& baseName) { return "lib" + baseName + ".so"; }

void* LoadLibrarySymbol(const std::string& libraryName, const std::string& symbol) {
    // The handle is kept on purpose: the library stays loaded until the process ends.
    void* handle = ::dlopen(libraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    return ::dlsym(handle, symbol.c_str());
}

}  // namespace launcher

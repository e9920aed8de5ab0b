// Run-time loading through dlopen. The normal search comes first (the build
// gives every program an rpath of $ORIGIN); the program's own directory is tried
// after it, since some environments (sanitizer runtimes intercepting dlopen)
// lose the caller's run path.
#include <dlfcn.h>

#include "platform/library.h"
#include "platform/process.h"

namespace launcher {

std::string SharedLibraryFileName(const std::string& baseName) { return "lib" + baseName + ".so"; }

void* LoadLibrarySymbol(const std::string& libraryName, const std::string& symbol) {
    // The handle is kept on purpose: the library stays loaded until the process ends.
    void* handle = ::dlopen(libraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && libraryName.find('/') == std::string::npos) {
        const std::string program = CurrentProgramPath();
        const auto slash = program.rfind('/');
        if (slash != std::string::npos) {
            const std::string besideProgram = program.substr(0, slash + 1) + libraryName;
            handle = ::dlopen(besideProgram.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
    }
    if (!handle) return nullptr;
    return ::dlsym(handle, symbol.c_str());
}

}  // namespace launcher

// Run-time loading with LoadLibraryW. A bare name is taken from the program's
// own directory and nowhere else: never the current directory or the search
// path, where anyone could plant a library of that name.
#include "platform/library.h"

#include <windows.h>

#include "platform/process.h"
#include "platform/win32/wide_text.h"

namespace launcher {

std::string SharedLibraryFileName(const std::string& baseName) {
    return baseName + ".dll";
}

void* LoadLibrarySymbol(const std::string& libraryName, const std::string& symbol) {
    std::string path = libraryName;
    if (libraryName.find_first_of("/\\") == std::string::npos) {
        const std::string program = CurrentProgramPath();
        const auto slash = program.find_last_of("/\\");
        if (slash == std::string::npos) return nullptr;
        path = program.substr(0, slash + 1) + libraryName;
    }
    // The handle is kept on purpose: the library stays loaded until the process ends.
    HMODULE module =
        ::LoadLibraryExW(win32::WidePath(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(module, symbol.c_str()));
}

}  // namespace launcher

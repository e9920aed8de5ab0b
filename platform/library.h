// Run-time loading of a shared library by name through the normal search.
#pragma once

#include <string>

namespace launcher {

// Loads the library (kept loaded until the process ends) and returns the
// address of `symbol`, or nullptr when the library or the symbol is missing.
void* LoadLibrarySymbol(const std::string& libraryName, const std::string& symbol);

// The platform's file name of a library called `baseName` ("libX.so" on Linux).
std::string SharedLibraryFileName(const std::string& baseName);

}  // namespace launcher

// Unpacking a patch package into the current directory.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace launcher {

// Reads the package from `package`'s current position and writes every entry
// below the current directory. Returns 1 when every entry was written, 0 at the
// first failure (entries before it stay written). Does not close `package`.
int ApplyPatchPackage(File& package);

// Decompresses one entry with g_pfnUncompress and puts the file `name` (with
// '/' separators, already checked to be safe) in place. Returns 1 or 0.
int ExtractPackageEntry(const std::string& name, const unsigned char* payload,
                        std::uint32_t compressedSize, std::uint32_t uncompressedSize);

}  // namespace launcher

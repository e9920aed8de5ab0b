// Inflating one package entry the way the launcher does, a piece at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "transfer/package_format.h"

namespace launcher::mkpatch {

// What the inflated bytes are handed to, in order, a piece at a time.
using InflatedPiece = std::function<void(const unsigned char* bytes, std::size_t size)>;

// Inflates the payload at `reader` exactly as the launcher's one call of
// uncompress() with an output capacity of `capacity` does, and returns its
// zlib status (Z_OK for what the launcher applies); `produced` is what it
// would have written, and `piece`, when given, receives those bytes. Holding
// only pieces, it checks entries that would not fit into this program's
// memory. `read` is not kOk when the package could not be read.
int InflateLikeUncompress(PackageReader& reader, std::uint32_t compressedSize,
                          std::uint32_t capacity, std::uint64_t& produced, ReadStatus& read,
                          const InflatedPiece& piece = {});

}  // namespace launcher::mkpatch

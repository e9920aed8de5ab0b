// The external decompressor's entry point: zlib's `uncompress` signature and
// result convention (0 success, anything else failure).
#pragma once

namespace launcher {

using UncompressFunction = int (*)(unsigned char* dest, unsigned long* destLen,
                                   const unsigned char* source, unsigned long sourceLen);

// Null until the decompressor library has been loaded.
extern UncompressFunction g_pfnUncompress;

// Name of the decompressor library and of its entry point.
inline constexpr const char* kDecompressorLibrary = "TarnwellCompress";
inline constexpr const char* kDecompressorEntry = "uncompress";

}  // namespace launcher

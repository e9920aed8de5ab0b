// Compresses files into zlib streams on every core. Each file is cut into
// pieces of a fixed size, deflated independently and joined into one stream
// (the non-final pieces end on a byte boundary with an empty stored block),
// so the bytes depend on the files alone, never on the number of threads,
// and no file is ever held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace launcher::mkpatch {

// Large files are compressed in pieces of this size on every core. Each piece
// starts without the one before it in view, which costs a few hundred bytes;
// 4 MiB pieces lose a quarter of what 1 MiB pieces did and still give two
// cores work within one file of 8 MiB. Changing it changes the bytes of every
// package built from then on; clients read any.
inline constexpr std::size_t kDeflatePieceBytes = std::size_t{4} << 20;

struct DeflateInput {
    std::filesystem::path path;
    std::uint64_t size = 0;  // as listed; a file that no longer has it is an error
};

struct DeflateOutput {
    // Called in file order: the start of a file's stream, its bytes in order,
    // its end with the stream's length. False stops everything.
    std::function<bool(std::size_t file)> begin;
    std::function<bool(const unsigned char* bytes, std::size_t size)> write;
    std::function<bool(std::size_t file, std::uint64_t packed)> end;
};

// `threads` 0: one per core. False with `error` for a file that cannot be
// read or changed, or when `output` refused.
bool DeflateFiles(const std::vector<DeflateInput>& files, unsigned threads,
                  const DeflateOutput& output, std::string& error);

// What compresses: "libdeflate" or "zlib".
const char* DeflateLibrary();

}  // namespace launcher::mkpatch

// The patch package layout, shared by the applier, mkpatch and the fuzzer.
//
// All integers little-endian, no padding, no signature:
//   int32  entryCount
//   entryCount times:
//     uint32 nameLength          bytes of name, its terminating zero included (1..1000)
//     char   name[nameLength]    relative path, directories separated by '\'
//     uint32 uncompressedSize    output capacity handed to the decompressor
//     uint32 compressedSize
//     byte   payload[compressedSize]
// Bytes after the last entry are never read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace launcher {

inline constexpr std::uint32_t kMaxNameLength = 1000;  // the stored field, zero byte included
inline constexpr std::size_t kMaxNameBytes = kMaxNameLength - 1;
inline constexpr char kPackageSeparator = '\\';
// The applier's temporary file in each directory; no entry may use the name.
inline constexpr const char* kTemporaryFileName = ".launcher-part";
// Bytes of the fixed fields around a name: nameLength before it, the two sizes after it.
inline constexpr std::size_t kEntryFixedBytes = 12;

void PutUint32(unsigned char* out, std::uint32_t value);
std::uint32_t GetUint32(const unsigned char* in);

// --- Writing -----------------------------------------------------------------

std::string EncodePackageHeader(std::int32_t entryCount);
// The fields of one entry up to its payload. `name` must pass CheckStorableName.
std::string EncodeEntryHeader(std::string_view name, std::uint32_t uncompressedSize,
                              std::uint32_t compressedSize);

// Why a name cannot go into a package the launcher will apply, or empty when it
// can. Checks both the format's limits and the launcher's refusals.
std::string CheckStorableName(std::string_view name);

// The most bytes any zlib stream of `compressedSize` bytes can inflate to.
// Deflate's densest code spends two bits (a one-bit length code and a one-bit
// distance code) on a 258-byte match: at most 1032 bytes out per byte in. The
// stream's header, trailer and first literal only lower that; 64 bytes spare.
std::uint64_t MostInflatedSize(std::uint32_t compressedSize);
// The output capacity the applier hands the decompressor for an entry: the
// declared size, which may be more than the data, bounded by what the payload
// can produce, so that a large claim costs no more memory than the data.
std::uint32_t OutputCapacity(std::uint32_t uncompressedSize, std::uint32_t compressedSize);
// Whether `compressedSize` bytes can inflate to `uncompressedSize`.
bool FitsCompressedSize(std::uint32_t uncompressedSize, std::uint32_t compressedSize);
// The problem text for a size that does not fit.
std::string ExceedsCompressedSize(std::uint32_t uncompressedSize, std::uint32_t compressedSize);

// --- Names -------------------------------------------------------------------

// The launcher writes only below its current directory: it refuses empty names,
// absolute names (leading '\' or '/'), drive prefixes and any ':', '..'
// components, '/' (not a separator in packages, so it would be ambiguous here),
// names whose last part is empty (they would name a directory), and names with
// a part equal to the applier's temporary file name.
bool IsSafeEntryName(std::string_view name);
// The stored name as a path of this system: the platform's separator, each part
// converted from the code page packages use here (see platform/code_page.h).
// Empty when the name is not text in that code page.
std::string ToLocalPath(std::string_view name);

// --- Reading -----------------------------------------------------------------

struct PackageEntry {
    std::uint64_t offset = 0;  // of nameLength, from the package's start
    std::string name;          // up to the first zero byte, as stored
    std::uint32_t uncompressedSize = 0;
    std::uint32_t compressedSize = 0;
};

enum class ReadStatus {
    kOk,
    kDamaged,    // the bytes are not a package (cut short, malformed field)
    kReadError,  // the file could not be read
};

// Reads a package field by field from an open file and checks each field before
// it is used. The file's size is taken once, so a payload larger than what is
// left is refused before anyone allocates for it.
class PackageReader {
public:
    // Starts at the file's current position; reads ahead of what it hands
    // out, so the file's position afterwards is not the reader's.
    explicit PackageReader(File& file);

    ReadStatus ReadHeader(std::int32_t& entryCount);
    // nameLength, name and both sizes; leaves the file at the payload.
    ReadStatus ReadEntry(PackageEntry& entry);
    ReadStatus ReadPayload(unsigned char* buffer, std::uint32_t size);
    // Passes over a payload without holding it whole.
    ReadStatus SkipPayload(std::uint32_t size);
    // Passes over a payload without reading it, for whoever maps it later;
    // `at` receives its position in the file.
    ReadStatus PassPayload(std::uint32_t size, std::uint64_t& at);

    // Position from the package's start.
    std::uint64_t Offset() const { return offset_; }
    // Bytes left after Offset(), or -1 when the size could not be taken.
    long long Left() const { return left_; }
    // What went wrong, with the byte offset, for messages.
    const std::string& Problem() const { return problem_; }

private:
    ReadStatus Read(void* buffer, std::size_t size, const char* what);
    ReadStatus Fail(ReadStatus status, std::uint64_t at, std::string what);

    File& file_;
    // Read ahead of the entries, so that a package of small files costs a read
    // per 256 KiB rather than three per entry. The file's own position runs
    // ahead of Offset() by what is held here.
    std::unique_ptr<unsigned char[]> ahead_;
    std::size_t aheadAt_ = 0;
    std::size_t aheadEnd_ = 0;
    std::uint64_t offset_ = 0;
    long long left_ = -1;
    std::string problem_;
};

}  // namespace launcher

// Unpacking a patch package into the current directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "transfer/content_hash.h"

namespace launcher {

// Reads the package from `package`'s current position and writes every entry
// below the current directory. Returns 1 when every entry was written, 0 at the
// first failure (entries before it stay written). Does not close `package`.
//
// Each file goes to a temporary file beside it and is renamed into place, so a
// failure or a crash leaves either the old file or the new one. Entries are
// decompressed on several threads and written on another, in package order;
// large ones are decompressed by the writer straight into the mapped file
// from the mapped package. After a failure nothing later is written. Every write has ended when the call
// returns; where `package` is left after a failure is unspecified. Nothing is
// synced: call SyncInstallation() (platform/files.h) once after the package and
// before recording it as applied.
int ApplyPatchPackage(File& package);

// Why a package was not applied, for the caller that must choose between
// deleting it (so that it is fetched again) and keeping it.
enum class ApplyResult {
    kApplied,
    // The package's bytes are at fault: cut short, a malformed field, a name the
    // launcher or the file system refuses (too long), a payload the
    // decompressor rejects. Fetch it again.
    kDamagedPackage,
    // Something on this machine: no decompressor, no memory for a block,
    // something in the way (a symbolic link or a file where a directory is
    // needed, a directory where a file goes), a file that cannot be read,
    // created, written or renamed. Keep the package.
    kLocalFailure,
};

// What one entry must hold: its name, and the size and hash of what it
// inflates to.
struct ExpectedEntry {
    std::string name;
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
};

// A package whose entries are known in advance (gathered from a file index):
// one expectation per entry, in package order. A file that does not meet its
// expectation never replaces the old one (kDamagedPackage).
struct ApplyExpectations {
    std::vector<ExpectedEntry> entries;
    ContentHashMaker newHash;
};

// ApplyPatchPackage with the reason; `problem` (optional) receives a short
// description naming the entry and the byte offset. `expected` (optional) is
// checked entry by entry.
ApplyResult ApplyPatchPackageWithResult(File& package, std::string* problem = nullptr,
                                        const ApplyExpectations* expected = nullptr);

// Decompresses one entry with g_pfnUncompress and puts the file `name` (with
// '/' separators, already checked to be safe) in place. Returns 1 or 0.
int ExtractPackageEntry(const std::string& name, const unsigned char* payload,
                        std::uint32_t compressedSize, std::uint32_t uncompressedSize);

// The temporary file an entry is written to before it is renamed to `path`. A
// crash may leave one behind; applying the package again reuses and removes it.
std::string TemporaryPathFor(const std::string& path);

}  // namespace launcher

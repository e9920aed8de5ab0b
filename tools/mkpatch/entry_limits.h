// What one package entry may be: the format's 32-bit size fields, and the
// memory a client needs to apply it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace launcher::mkpatch {

// Both sizes of an entry are 32-bit fields.
inline constexpr std::uint64_t kMostEntryBytes = 0xFFFFFFFFu;
inline constexpr const char* kMostEntryText = "4 GiB - 1 (4294967295 bytes)";

// A client holds an entry's compressed and uncompressed bytes at once; above
// this a 32-bit client may find no room for them in its address space.
inline constexpr std::uint64_t kMemoryWarnedAbove = std::uint64_t{512} << 20;

// Says how much memory the largest entry, `name`, needs to be applied; warns
// on `err` above kMemoryWarnedAbove. True when it warned.
bool ReportApplyMemory(const std::string& package, const std::string& name, std::uint64_t bytes,
                       std::ostream& out, std::ostream& err);

}  // namespace launcher::mkpatch

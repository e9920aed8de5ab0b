// What packages 00001 .. latest-1 leave on a client: the last entry of every
// name they carry, and that entry's content as the launcher would write it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>

namespace launcher::mkpatch {

struct EntryPlace {
    int package = 0;
    std::uint64_t offset = 0;  // of nameLength
    std::uint64_t length = 0;  // the whole entry
};

// Every name the packages carry, with its last entry.
using PackageHistory = std::map<std::string, EntryPlace>;

// Reads the entries of packages 1 .. latest-1 in `directory` without their
// payloads. False, with the package and byte on `err`, when one is missing or
// not a package the launcher applies.
bool ReadPackageHistory(const std::filesystem::path& directory, int latest,
                        PackageHistory& history, std::ostream& err);

struct EntryContent {
    std::string name;
    std::uint64_t length = 0;  // the whole entry
    std::uint64_t size = 0;    // what it inflates to
    std::string sha256;
    std::string problem;  // not empty: no entry the launcher applies lies there
};

// Reads and inflates the entry at `place`, as the launcher's applier would.
EntryContent ReadEntryAt(const std::filesystem::path& directory, const EntryPlace& place);

// Calls `job(0 .. count-1)` on `threads` threads (0: one per core), each
// index once.
void ForEachOnCores(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t)>& job);

}  // namespace launcher::mkpatch

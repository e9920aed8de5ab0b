// Files seen through memory: no copy of their bytes in the process's own
// memory, and none made by read or write calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace launcher {

// A part of an open file, mapped for reading. The file must not shrink while
// it is mapped (the launcher's own package, which nothing else writes).
class MappedFileRegion {
public:
    MappedFileRegion() = default;
    ~MappedFileRegion();
    MappedFileRegion(const MappedFileRegion&) = delete;
    MappedFileRegion& operator=(const MappedFileRegion&) = delete;

    // Maps `length` bytes (more than 0) of `file` from `offset`, which the
    // file must hold. False when they cannot be mapped, for instance for want
    // of address space in a 32-bit process.
    bool Map(const File& file, std::uint64_t offset, std::size_t length);
    const unsigned char* Data() const { return data_; }

    // Moves `file`'s read position `length` bytes on without reading them;
    // `from` receives the position before. False when it cannot.
    static bool Skip(File& file, std::uint64_t length, std::uint64_t& from);

private:
    void* view_ = nullptr;  // the whole mapping, which starts on a boundary
    std::size_t viewSize_ = 0;
    const unsigned char* data_ = nullptr;
};

// A new file written through memory: created at the size it will have at
// most, its pages mapped, filled by whoever writes into them, then cut to what
// was filled.
class MappedNewFile {
public:
    enum class Created {
        kMapped,
        // Nothing could be created at the name (as File::Open would fail).
        kNotCreated,
        // The file exists but cannot be mapped or its room not be reserved
        // (no room on the disk, a file system without reservations, no address
        // space for it in this process): the caller removes it and writes the
        // file another way.
        kNotMapped,
    };

    MappedNewFile() = default;
    // Unmaps and closes; the file stays where it is.
    ~MappedNewFile();
    MappedNewFile(const MappedNewFile&) = delete;
    MappedNewFile& operator=(const MappedNewFile&) = delete;

    // Creates `path` as File::Mode::kCreateFresh does (whatever stands at the
    // name removed, then created exclusively, never through a link), reserves
    // `size` bytes (more than 0) on the disk, so that filling the pages cannot
    // fail for want of room, and maps them writable.
    Created Create(const std::string& path, std::uint64_t size);
    unsigned char* Data() const { return data_; }
    // Unmaps, cuts the file to `length` and closes it. Its permissions: those
    // of the regular file `replaced` where one stands (never through a link,
    // never the set-id bits), else what File::Mode::kCreateFreshExecutable
    // gives when `executable`, else kCreateFresh's. False when a step fails.
    bool Finish(std::uint64_t length, bool executable, const std::string& replaced);

    // Create for a file without a name, as File::OpenUnnamedFor makes it in
    // the directory that is to hold `path`. kNotCreated where the system has
    // no such files (always on Windows).
    Created CreateUnnamedFor(const std::string& path, std::uint64_t size);
    // Unmaps, cuts the file to `length`, gives it the permissions of a new
    // file (with the execute bits when `executable`) and hands it, still
    // without a name, to `file`, for File::NameAs. False when a step fails.
    bool FinishUnnamed(std::uint64_t length, bool executable, File& file);

private:
    void Unmap();
    void CloseFile();

    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
#ifdef _WIN32
    void* file_ = nullptr;     // HANDLE, null when closed
    void* mapping_ = nullptr;  // HANDLE of the section
#else
    int fd_ = -1;
    // Reserves `size` bytes of the file just opened and maps them.
    Created ReserveAndMap(std::uint64_t size);
#endif
};

}  // namespace launcher

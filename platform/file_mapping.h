// A new file written through memory: the file is created at the size it will
// have at most, its pages are mapped, whoever fills them writes the file, and
// the file is then cut to what was filled. No second copy of the bytes exists
// in the process's own memory, and nothing is copied by write calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace launcher {

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
    // Unmaps, cuts the file to `length`, gives it the mode File::Mode::
    // kCreateFreshExecutable gives when `executable` (else kCreateFresh's) and
    // closes it. False when any step fails.
    bool Finish(std::uint64_t length, bool executable);

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
#endif
};

}  // namespace launcher

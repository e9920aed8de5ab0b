// POSIX realisation of files seen through memory.
#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace launcher {

namespace {

#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;  // Linux 5.14 on; older C libraries lack the name
#endif

bool FitsOffset(std::uint64_t value) {
    return value <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
}

}  // namespace

MappedFileRegion::~MappedFileRegion() {
    if (view_) ::munmap(view_, viewSize_);
}

bool MappedFileRegion::Map(const File& file, std::uint64_t offset, std::size_t length) {
    if (view_) ::munmap(view_, viewSize_);
    view_ = nullptr;
    data_ = nullptr;
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t start = offset - offset % page;
    const std::uint64_t size = offset - start + length;
    if (file.fd_ < 0 || length == 0 || !FitsOffset(start) ||
        size > std::numeric_limits<std::size_t>::max()) {
        return false;
    }
    void* view = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, file.fd_,
                        static_cast<off_t>(start));
    if (view == MAP_FAILED) return false;
    // Read once from start to end: the kernel reads ahead as far as it can.
    ::madvise(view, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
    view_ = view;
    viewSize_ = static_cast<std::size_t>(size);
    data_ = static_cast<const unsigned char*>(view) + (offset - start);
    return true;
}

bool MappedFileRegion::Skip(File& file, std::uint64_t length, std::uint64_t& from) {
    const off_t position = ::lseek(file.fd_, 0, SEEK_CUR);
    if (position < 0 || !FitsOffset(length) ||
        ::lseek(file.fd_, static_cast<off_t>(length), SEEK_CUR) < 0) {
        return false;
    }
    from = static_cast<std::uint64_t>(position);
    return true;
}

MappedNewFile::~MappedNewFile() {
    Unmap();
    CloseFile();
}

void MappedNewFile::Unmap() {
    if (data_) ::munmap(data_, size_);
    data_ = nullptr;
}

void MappedNewFile::CloseFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

MappedNewFile::Created MappedNewFile::Create(const std::string& path, std::uint64_t size) {
    Unmap();
    CloseFile();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Created::kNotCreated;
    // Created with the execute bits, which Finish takes off again unless the
    // content is a program: the umask is known only to the kernel.
    do {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) return Created::kNotCreated;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        CloseFile();
        return Created::kNotCreated;
    }
    return ReserveAndMap(size);
}

MappedNewFile::Created MappedNewFile::CreateUnnamedFor(const std::string& path,
                                                       std::uint64_t size) {
    Unmap();
    CloseFile();
#ifdef O_TMPFILE
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash);
    // With the execute bits, as Create: FinishUnnamed takes them off.
    do {
        fd_ = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0755);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) return Created::kNotCreated;
    return ReserveAndMap(size);
#else
    (void)path;
    (void)size;
    return Created::kNotCreated;
#endif
}

bool MappedNewFile::FinishUnnamed(std::uint64_t length, bool executable, File& file) {
    Unmap();
    struct stat st {};
    const bool done = fd_ >= 0 && length <= size_ &&
                      ::ftruncate(fd_, static_cast<off_t>(length)) == 0 &&
                      (executable ||
                       (::fstat(fd_, &st) == 0 && ::fchmod(fd_, st.st_mode & 0666) == 0));
    if (!done) {
        CloseFile();
        return false;
    }
    file.Close();
    file.fd_ = fd_;
    fd_ = -1;
    return true;
}

MappedNewFile::Created MappedNewFile::ReserveAndMap(std::uint64_t size) {
    if (size == 0 || size > std::numeric_limits<std::size_t>::max() || !FitsOffset(size)) {
        return Created::kNotMapped;
    }
    // Blocks reserved now: a page filled later on a full disk would otherwise
    // end the process (SIGBUS) instead of failing a call.
    int reserved;
    do {
        reserved = ::fallocate(fd_, 0, 0, static_cast<off_t>(size));
    } while (reserved != 0 && errno == EINTR);
    if (reserved != 0) return Created::kNotMapped;
    void* data = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE,
                        MAP_SHARED, fd_, 0);
    if (data == MAP_FAILED) return Created::kNotMapped;
    // Every page made writable in one call, large pages where the file system
    // gives them, rather than one fault at a time while the decompressor
    // writes: for a 1 GiB file 0.3 s instead of 0.4-2 s here. Kernels without
    // it refuse, and the pages come by fault as before.
#ifdef __linux__
    ::madvise(data, static_cast<std::size_t>(size), kPopulateWrite);
#endif
    data_ = static_cast<unsigned char*>(data);
    size_ = static_cast<std::size_t>(size);
    return Created::kMapped;
}

bool MappedNewFile::Finish(std::uint64_t length, bool executable, const std::string& replaced) {
    Unmap();
    bool done = fd_ >= 0 && length <= size_ && ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
    struct stat st {};
    if (done && ::lstat(replaced.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        done = ::fchmod(fd_, st.st_mode & 0777) == 0;
    } else if (done && !executable) {
        done = ::fstat(fd_, &st) == 0 && ::fchmod(fd_, st.st_mode & 0666) == 0;
    }
    const int fd = fd_;
    fd_ = -1;
    // POSIX leaves the descriptor closed even when close reports EINTR.
    return (fd < 0 || ::close(fd) == 0 || errno == EINTR) && done;
}

}  // namespace launcher

// POSIX realisation of the installation directory's files.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/files.h"

namespace launcher {

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a file";
}

}  // namespace

bool File::Open(const std::string& path, Mode mode) {
    Close();
    problem_.clear();
    // Non-blocking for the open alone: a FIFO or device at the name must not
    // hang us; it is refused below.
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
    mode_t permissions = 0644;
    switch (mode) {
        case Mode::kRead: flags |= O_RDONLY; break;
        case Mode::kReadThroughLinks: flags = (flags & ~O_NOFOLLOW) | O_RDONLY; break;
        case Mode::kWriteExisting: flags |= O_WRONLY | O_APPEND; break;
        case Mode::kCreateAlways: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case Mode::kCreateNewPrivate:
            flags |= O_WRONLY | O_CREAT | O_EXCL;
            permissions = 0600;
            break;
        case Mode::kAppendPrivate:
            flags |= O_WRONLY | O_APPEND | O_CREAT;
            permissions = 0600;
            break;
        case Mode::kCreateFreshExecutable:
            // The kernel takes the umask off, as for any program the user makes.
            permissions = 0755;
            [[fallthrough]];
        case Mode::kCreateFresh:
            flags |= O_WRONLY | O_CREAT | O_EXCL;
            break;
    }
    // A file created here is a regular one and never blocks: nothing to check
    // after the open, which saves a package of small files three calls a file.
    const bool exclusive = (flags & O_EXCL) != 0;
    if (exclusive) flags &= ~O_NONBLOCK;
    auto open = [&] {
        do {
            fd_ = ::open(path.c_str(), flags, permissions);
        } while (fd_ < 0 && errno == EINTR);
    };
    open();
    // Whatever stands at the name goes first; mostly nothing does, so it is
    // removed only when the name is taken.
    if (fd_ < 0 && errno == EEXIST &&
        (mode == Mode::kCreateFresh || mode == Mode::kCreateFreshExecutable)) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Fail(errno);
        open();
    }
    // Opening a FIFO without a reader, or a missing device, to write.
    if (fd_ < 0 && errno == ENXIO) return FailNotRegular("a FIFO or device", ENXIO);
    if (fd_ < 0) return Fail(errno);
    if (exclusive) return true;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int error = errno;
        Close();
        return Fail(error);
    }
    if (!S_ISREG(st.st_mode))
        return FailNotRegular(KindOf(st.st_mode), S_ISDIR(st.st_mode) ? EISDIR : ENXIO);
    // A regular file never blocks; reads and writes go on as usual.
    const int status = ::fcntl(fd_, F_GETFL);
    if (status == -1 || ::fcntl(fd_, F_SETFL, status & ~O_NONBLOCK) == -1) {
        const int error = errno;
        Close();
        return Fail(error);
    }
    return true;
}

bool File::ReadExact(void* buffer, std::size_t size) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = ::read(fd_, out + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

long long File::ReadSome(void* buffer, std::size_t size) {
    for (;;) {
        ssize_t got = ::read(fd_, buffer, size);
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

bool File::WriteAll(const void* buffer, std::size_t size) {
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        ssize_t put = ::write(fd_, in + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

long long File::Size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

long long File::Remaining() const {
    off_t pos = ::lseek(fd_, 0, SEEK_CUR);
    long long size = Size();
    if (pos < 0 || size < 0) return -1;
    return size > pos ? size - pos : 0;
}

long long File::Position() const {
    return fd_ < 0 ? -1 : static_cast<long long>(::lseek(fd_, 0, SEEK_CUR));
}

bool File::Seek(std::uint64_t position) {
    return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool File::Truncate(std::uint64_t size) {
    return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool File::Sync() { return fd_ >= 0 && ::fsync(fd_) == 0; }

bool File::TakeModeOf(const std::string& from) {
    // Never through a link, and never the set-id or sticky bits: a planted link
    // to a set-uid program must not make package bytes set-uid.
    struct stat st {};
    return fd_ >= 0 && ::lstat(from.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::fchmod(fd_, st.st_mode & 0777) == 0;
}

bool File::OpenUnnamedFor(const std::string& path, bool executable) {
    Close();
    problem_.clear();
#ifdef O_TMPFILE
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash);
    do {
        fd_ = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC | O_NOFOLLOW,
                     executable ? 0755 : 0644);
    } while (fd_ < 0 && errno == EINTR);
    return fd_ >= 0;
#else
    (void)path;
    (void)executable;
    return false;
#endif
}

bool File::NameAs(const std::string& path) {
    if (fd_ < 0) return false;
    // The descriptor's /proc name links it for any user; linking the
    // descriptor itself needs a privilege, but works without /proc.
    char proc[32];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd_);
    if (::linkat(AT_FDCWD, proc, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != ENOENT) return false;
    return ::linkat(fd_, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

bool File::Close() {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    // POSIX leaves the descriptor closed even when close reports EINTR.
    return ::close(fd) == 0 || errno == EINTR;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

long long FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

namespace {

PathProblem ProblemOf(int error) {
    switch (error) {
        case ENAMETOOLONG: return PathProblem::kNameTooLong;
        case ELOOP: return PathProblem::kSymbolicLink;
        case ENOTDIR: return PathProblem::kNotADirectory;
        case EISDIR: return PathProblem::kIsADirectory;
        default: return PathProblem::kOther;
    }
}

// Makes `part` inside the open directory `parent` (an existing one is kept)
// and opens it without following a link.
PathProblem EnterDirectory(int parent, const char* part, int& opened) {
    const int made = ::mkdirat(parent, part, 0755);
    const int madeError = errno;
    opened = ::openat(parent, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (opened >= 0) return PathProblem::kNone;
    if (made != 0 && madeError != EEXIST) return ProblemOf(madeError);
    // Both a link and a file answer ENOTDIR here; tell them apart.
    struct stat st {};
    if (::fstatat(parent, part, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        return S_ISLNK(st.st_mode) ? PathProblem::kSymbolicLink : PathProblem::kNotADirectory;
    }
    return ProblemOf(errno);
}

}  // namespace

PathProblem RenameFileOver(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? PathProblem::kNone : ProblemOf(errno);
}

PathProblem CreateDirectoriesBelowHere(const std::string& directory, std::string& blocker) {
    // The walk starts at the current directory itself: no descriptor of its own.
    int current = AT_FDCWD;
    PathProblem problem = PathProblem::kNone;
    for (std::size_t start = 0; problem == PathProblem::kNone && start < directory.size();) {
        std::size_t end = directory.find('/', start);
        if (end == std::string::npos) end = directory.size();
        const std::string part = directory.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        int next = -1;
        problem = EnterDirectory(current, part.c_str(), next);
        if (problem != PathProblem::kNone) {
            blocker = directory.substr(0, end);
        } else {
            if (current != AT_FDCWD) ::close(current);
            current = next;
        }
    }
    if (current != AT_FDCWD) ::close(current);
    return problem;
}

bool RemoveFileBelowHere(const std::string& path) {
    int current = AT_FDCWD;
    std::size_t start = 0;
    bool ok = true;
    for (std::size_t end; ok && (end = path.find('/', start)) != std::string::npos;
         start = end + 1) {
        const std::string part = path.substr(start, end - start);
        if (part.empty()) continue;
        const int next = ::openat(current, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (current != AT_FDCWD) ::close(current);
        current = next;
        ok = next >= 0;
    }
    if (ok) ok = ::unlinkat(current, path.substr(start).c_str(), 0) == 0;
    if (current >= 0 && current != AT_FDCWD) ::close(current);
    return ok;
}

bool FileStamp(const std::string& path, std::uint64_t& size, std::int64_t& modified) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<std::uint64_t>(st.st_size);
    modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

bool SyncDirectory(const std::string& path) {
    int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool SyncInstallation() {
    int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    // syncfs flushes the file system holding the installation, renames included;
    // far cheaper than an fsync per file for packages of thousands of files.
    bool ok = ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
}

long long FreeSpace(const std::string& directory) {
    struct statvfs fs {};
    if (::statvfs(directory.c_str(), &fs) != 0) return -1;
    return static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
}

}  // namespace launcher

// Win32 realisation of the installation directory's files. The File keeps a C
// runtime descriptor over its Win32 handle, so the class is the same on both
// platforms; every operation goes to the handle itself.
#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/win32/wide_text.h"

namespace launcher {

namespace {

using win32::WidePath;

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// Shared so that a reader or a rename elsewhere is never refused by our handle.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsReparsePoint(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Only a plain file counts: not a directory, not a link or junction.
bool IsPlainFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(handle, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// Failures leave errno set as on POSIX, so that callers can say why.
bool Failed(DWORD error = ::GetLastError()) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            errno = ENOENT;
            break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            errno = EEXIST;
            break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            errno = ENOSPC;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            errno = EACCES;
            break;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            errno = ENOMEM;
            break;
        default:
            errno = EIO;
            break;
    }
    return false;
}

// Why a name could not be opened as a file: a directory or a link stands there.
bool FailedAt(const std::wstring& path) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        errno = ELOOP;
        return false;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EISDIR;
        return false;
    }
    return Failed(error);
}

constexpr DWORD kChunk = DWORD{1} << 30;

DWORD ChunkOf(std::size_t size) {
    return size < kChunk ? static_cast<DWORD>(size) : kChunk;
}

}  // namespace

bool File::Open(const std::string& path, Mode mode) {
    Close();
    problem_.clear();
    const std::wstring wide = WidePath(path);
    DWORD access = GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    const bool reading = mode == Mode::kRead || mode == Mode::kReadThroughLinks;
    switch (mode) {
        case Mode::kRead:
        case Mode::kReadThroughLinks:
            access = GENERIC_READ;
            break;
        case Mode::kWriteExisting:
            break;
        case Mode::kCreateAlways:
            disposition = CREATE_ALWAYS;
            break;
        case Mode::kCreateNewPrivate:
            // No mode bits on Windows: the file takes the folder's rights.
            disposition = CREATE_NEW;
            break;
        case Mode::kAppendPrivate:
            // The directory's own permissions keep it private on Windows.
            disposition = OPEN_ALWAYS;
            break;
        case Mode::kCreateFresh:
        // Programs are known by their name on Windows: nothing to mark.
        case Mode::kCreateFreshExecutable:
            // DeleteFileW removes a link itself, never what it points at.
            if (!::DeleteFileW(wide.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
                FailedAt(wide);
                return Fail(errno);
            }
            disposition = CREATE_NEW;
            break;
    }
    // Never through a link or junction that stands at the name.
    const bool followLinks = mode == Mode::kReadThroughLinks;
    if (!followLinks && IsReparsePoint(wide)) return Fail(ELOOP);
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle =
        ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        FailedAt(wide);
        return errno == EISDIR ? FailNotRegular("a directory", EISDIR) : Fail(errno);
    }
    // A device or pipe reached by its name is no file of ours either.
    const bool onDisk = ::GetFileType(handle) == FILE_TYPE_DISK;
    if (!onDisk || !IsPlainFile(handle)) {
        ::CloseHandle(handle);
        return FailNotRegular(onDisk ? "a directory or link" : "a device or pipe", EISDIR);
    }
    if (mode == Mode::kWriteExisting || mode == Mode::kAppendPrivate) {
        LARGE_INTEGER end{};
        if (!::SetFilePointerEx(handle, end, nullptr, FILE_END)) {
            Failed();
            ::CloseHandle(handle);
            return Fail(errno);
        }
    }
    fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle),
                            reading ? _O_RDONLY | _O_BINARY : _O_BINARY);
    if (fd_ < 0) {
        ::CloseHandle(handle);
        return Fail(EMFILE);
    }
    return true;
}

bool File::ReadExact(void* buffer, std::size_t size) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!::ReadFile(HandleOf(fd_), out + done, ChunkOf(size - done), &got, nullptr)) {
            return Failed();
        }
        if (got == 0) return false;
        done += got;
    }
    return true;
}

long long File::ReadSome(void* buffer, std::size_t size) {
    DWORD got = 0;
    if (!::ReadFile(HandleOf(fd_), buffer, ChunkOf(size), &got, nullptr)) {
        Failed();
        return -1;
    }
    return got;
}

bool File::WriteAll(const void* buffer, std::size_t size) {
    const auto* in = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        DWORD put = 0;
        if (!::WriteFile(HandleOf(fd_), in + done, ChunkOf(size - done), &put, nullptr)) {
            return Failed();
        }
        if (put == 0) return Failed(ERROR_DISK_FULL);
        done += put;
    }
    return true;
}

long long File::Size() const {
    LARGE_INTEGER size{};
    if (fd_ < 0) return -1;
    if (!::GetFileSizeEx(HandleOf(fd_), &size)) {
        Failed();
        return -1;
    }
    return size.QuadPart;
}

long long File::Remaining() const {
    LARGE_INTEGER zero{}, position{};
    if (fd_ < 0 || !::SetFilePointerEx(HandleOf(fd_), zero, &position, FILE_CURRENT)) return -1;
    const long long size = Size();
    if (size < 0) return -1;
    return size > position.QuadPart ? size - position.QuadPart : 0;
}

long long File::Position() const {
    LARGE_INTEGER zero{}, position{};
    if (fd_ < 0 || !::SetFilePointerEx(HandleOf(fd_), zero, &position, FILE_CURRENT)) return -1;
    return position.QuadPart;
}

bool File::Seek(std::uint64_t position) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(position);
    return fd_ >= 0 && ::SetFilePointerEx(HandleOf(fd_), at, nullptr, FILE_BEGIN);
}

bool File::Truncate(std::uint64_t size) {
    // Leaves the position at the new end, where the next write appends.
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return fd_ >= 0 && ::SetFilePointerEx(HandleOf(fd_), at, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(HandleOf(fd_));
}

bool File::Sync() {
    return fd_ >= 0 && (::FlushFileBuffers(HandleOf(fd_)) || Failed());
}

// Windows has no permission bits to carry over (programs are known by their
// extension); what is left is the rule that `from` is a plain file.
bool File::TakeModeOf(const std::string& from) {
    const DWORD attributes = ::GetFileAttributesW(WidePath(from).c_str());
    return fd_ >= 0 && attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// Windows has no unnamed files: new files go through a temporary name.
bool File::OpenUnnamedFor(const std::string&, bool) {
    Close();
    problem_.clear();
    return false;
}

bool File::NameAs(const std::string&) { return false; }

bool File::Close() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::_close(fd) == 0;  // sets errno itself
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool RemoveFile(const std::string& path) {
    return ::DeleteFileW(WidePath(path).c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return RenameFileOver(from, to) == PathProblem::kNone;
}

namespace {

// Windows allows 255 UTF-16 units a name part; systems differ in the error
// they give beyond that (Wine: an invalid name), so the length decides.
bool LastPartTooLong(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string part = slash == std::string::npos ? path : path.substr(slash + 1);
    return win32::Wide(part).size() > 255;
}

}  // namespace

PathProblem RenameFileOver(const std::string& from, const std::string& to) {
    const std::wstring source = WidePath(from);
    const std::wstring target = WidePath(to);
    // The file's bytes reach the disk before its name takes the place of the
    // old one: without a file-system-wide sync, this is what keeps a crash from
    // leaving a new name over missing data.
    HANDLE handle = ::CreateFileW(source.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return PathProblem::kOther;
    const bool flushed = IsPlainFile(handle) && ::FlushFileBuffers(handle);
    ::CloseHandle(handle);
    if (!flushed) return PathProblem::kOther;
    if (::MoveFileExW(source.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return PathProblem::kNone;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILENAME_EXCED_RANGE || LastPartTooLong(to)) return PathProblem::kNameTooLong;
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return PathProblem::kIsADirectory;
    }
    Failed(error);
    return PathProblem::kOther;
}

bool RemoveFileBelowHere(const std::string& path) {
    // Every leading part must be a directory itself, not a link or junction.
    for (std::size_t end = path.find('/'); end != std::string::npos; end = path.find('/', end + 1)) {
        const DWORD attributes = ::GetFileAttributesW(WidePath(path.substr(0, end)).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
    }
    return ::DeleteFileW(WidePath(path).c_str()) != 0;
}

bool FileStamp(const std::string& path, std::uint64_t& size, std::int64_t& modified) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                         data.ftLastWriteTime.dwLowDateTime);
    return true;
}

PathProblem CreateDirectoriesBelowHere(const std::string& directory, std::string& blocker) {
    // Part by part from the current directory; an existing part must be a
    // directory itself, not a link or junction to one.
    for (std::size_t start = 0; start < directory.size();) {
        std::size_t end = directory.find('/', start);
        if (end == std::string::npos) end = directory.size();
        const bool empty = end == start;
        start = end + 1;
        if (empty) continue;
        const std::string prefix = directory.substr(0, end);
        const std::wstring wide = WidePath(prefix);
        PathProblem problem = PathProblem::kNone;
        if (!::CreateDirectoryW(wide.c_str(), nullptr)) {
            const DWORD error = ::GetLastError();
            const DWORD attributes = ::GetFileAttributesW(wide.c_str());
            if (error == ERROR_FILENAME_EXCED_RANGE || LastPartTooLong(prefix)) {
                problem = PathProblem::kNameTooLong;
            } else if (attributes == INVALID_FILE_ATTRIBUTES) {
                problem = PathProblem::kOther;
            } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                problem = PathProblem::kSymbolicLink;
            } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                problem = PathProblem::kNotADirectory;
            }
        }
        if (problem != PathProblem::kNone) {
            blocker = prefix;
            return problem;
        }
    }
    return PathProblem::kNone;
}

// MOVEFILE_WRITE_THROUGH already made the rename durable: NTFS journals the
// directory itself.
bool SyncDirectory(const std::string&) {
    return true;
}

// Every rename flushed its file first (RenameFile), so nothing is left to do:
// a user cannot flush a whole volume on Windows.
bool SyncInstallation() {
    return true;
}

long long FreeSpace(const std::string& directory) {
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(WidePath(directory).c_str(), &available, nullptr, nullptr))
        return -1;
    return static_cast<long long>(available.QuadPart);
}

}  // namespace launcher

// Win32 realisation of files seen through memory: file mappings and views.
// A 32-bit process has little address space; views take only what they need,
// and the caller falls back to other ways where a view cannot be had.
#include "platform/file_mapping.h"

#include <io.h>
#include <windows.h>

#include <limits>

#include "platform/win32/wide_text.h"

namespace launcher {

namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

DWORD High(std::uint64_t value) { return static_cast<DWORD>(value >> 32); }
DWORD Low(std::uint64_t value) { return static_cast<DWORD>(value & 0xFFFFFFFFu); }

bool SetEnd(HANDLE file, std::uint64_t size) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

}  // namespace

MappedFileRegion::~MappedFileRegion() {
    if (view_) ::UnmapViewOfFile(view_);
}

bool MappedFileRegion::Map(const File& file, std::uint64_t offset, std::size_t length) {
    if (view_) ::UnmapViewOfFile(view_);
    view_ = nullptr;
    data_ = nullptr;
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    const std::uint64_t start = offset - offset % info.dwAllocationGranularity;
    const std::uint64_t size = offset - start + length;
    if (file.fd_ < 0 || length == 0 || size > std::numeric_limits<SIZE_T>::max()) return false;
    HANDLE mapping =
        ::CreateFileMappingW(HandleOf(file.fd_), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) return false;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, High(start), Low(start),
                                 static_cast<SIZE_T>(size));
    // The view keeps the mapping alive.
    ::CloseHandle(mapping);
    if (!view) return false;
    view_ = view;
    viewSize_ = static_cast<std::size_t>(size);
    data_ = static_cast<const unsigned char*>(view) + (offset - start);
    return true;
}

bool MappedFileRegion::Skip(File& file, std::uint64_t length, std::uint64_t& from) {
    LARGE_INTEGER zero{}, position{}, step{};
    step.QuadPart = static_cast<LONGLONG>(length);
    HANDLE handle = HandleOf(file.fd_);
    if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT) ||
        !::SetFilePointerEx(handle, step, nullptr, FILE_CURRENT)) {
        return false;
    }
    from = static_cast<std::uint64_t>(position.QuadPart);
    return true;
}

MappedNewFile::~MappedNewFile() {
    Unmap();
    CloseFile();
}

void MappedNewFile::Unmap() {
    if (data_) ::UnmapViewOfFile(data_);
    if (mapping_) ::CloseHandle(mapping_);
    data_ = nullptr;
    mapping_ = nullptr;
}

void MappedNewFile::CloseFile() {
    if (file_) ::CloseHandle(file_);
    file_ = nullptr;
}

MappedNewFile::Created MappedNewFile::Create(const std::string& path, std::uint64_t size) {
    Unmap();
    CloseFile();
    const std::wstring wide = win32::WidePath(path);
    // As File::Mode::kCreateFresh: DeleteFileW removes a link itself, never
    // what it points at, and nothing is opened through one.
    if (!::DeleteFileW(wide.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        return Created::kNotCreated;
    }
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return Created::kNotCreated;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        ::CloseHandle(file);
        return Created::kNotCreated;
    }
    file_ = file;
    if (size == 0 || size > std::numeric_limits<SIZE_T>::max()) return Created::kNotMapped;
    // Setting the end allocates the clusters: filling the pages later cannot
    // fail for want of room (which would raise an exception in the process).
    if (!SetEnd(file, size)) return Created::kNotMapped;
    mapping_ = ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (!mapping_) return Created::kNotMapped;
    data_ = static_cast<unsigned char*>(
        ::MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(size)));
    if (!data_) return Created::kNotMapped;
    size_ = static_cast<std::size_t>(size);
    return Created::kMapped;
}

// Windows has no files without a name: large new files go through a
// temporary name as any other.
MappedNewFile::Created MappedNewFile::CreateUnnamedFor(const std::string&, std::uint64_t) {
    return Created::kNotCreated;
}

bool MappedNewFile::FinishUnnamed(std::uint64_t, bool, File&) { return false; }

// Windows has no permission bits to give: programs are known by their name.
bool MappedNewFile::Finish(std::uint64_t length, bool, const std::string&) {
    // The pages go to the file before the view does: the rename that follows
    // flushes the file's buffers, which do not include a view's pages.
    bool done = data_ && ::FlushViewOfFile(data_, 0);
    Unmap();
    done = done && file_ && length <= size_ && SetEnd(file_, length);
    const bool closed = file_ && ::CloseHandle(file_);
    file_ = nullptr;
    return done && closed;
}

}  // namespace launcher

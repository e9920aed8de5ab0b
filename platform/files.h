// Files of the installation directory, named relative to the current directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace launcher {

// An open file; closes itself when destroyed.
class File {
    // Maps parts of an open file for reading (platform/file_mapping.h).
    friend class MappedFileRegion;
    // Hands a mapped new file over to a File (platform/file_mapping.h).
    friend class MappedNewFile;

public:
    enum class Mode {
        kRead,              // must exist
        // kRead for a file an operator names, never one of the installation's:
        // a symbolic link at the name is followed.
        kReadThroughLinks,
        kWriteExisting,     // must exist, positioned at its end
        kCreateAlways,      // created or truncated
        // A private temporary: whatever stands at the name (a leftover file or
        // a planted link) is removed, then the file is created exclusively.
        kCreateFresh,
        // kCreateFresh with the execute bits: 0755 less the umask.
        kCreateFreshExecutable,
        // Created only where nothing stands at the name, readable by its owner
        // alone from the first byte on (0600; on Windows the folder's rights).
        kCreateNewPrivate,
        // Appended to; created for the owner alone (0600) when missing.
        kAppendPrivate,
    };
    // Only regular files open: a directory, FIFO or device at the name fails
    // at once, without blocking. No mode but kReadThroughLinks follows a
    // symbolic link at the name.

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool Open(const std::string& path, Mode mode);
    bool IsOpen() const { return fd_ >= 0; }
    // Why the last Open failed, in words ("not a regular file (a FIFO)", "a
    // symbolic link, not followed", or the system's text); empty after success.
    const std::string& Problem() const { return problem_; }
    // Reads exactly `size` bytes; false on error or a short read.
    bool ReadExact(void* buffer, std::size_t size);
    // Reads up to `size` bytes; returns the count, or -1 on error.
    long long ReadSome(void* buffer, std::size_t size);
    // Writes all `size` bytes; false on error or a short write.
    bool WriteAll(const void* buffer, std::size_t size);
    // Current size in bytes, or -1 on error.
    long long Size() const;
    // Bytes left from the read position to the end, or -1 on error.
    long long Remaining() const;
    // The read or write position, or -1 on error; Seek moves it.
    long long Position() const;
    bool Seek(std::uint64_t position);
    bool Truncate(std::uint64_t size);
    // Gives the file the permission bits (0777) of `from` when `from` is a
    // regular file itself, not a link; false otherwise. Through the
    // descriptor: nothing else that comes to stand at our name is changed.
    bool TakeModeOf(const std::string& from);
    bool Sync();
    // Opens a new file without a name in the directory that is to hold
    // `path` ('/'-separated, relative), 0644 or with `executable` 0755, less
    // the umask. It gets a name only through NameAs, so a crash before that
    // leaves nothing behind, not even a temporary. False where the system or
    // its file system has no such files (always on Windows).
    bool OpenUnnamedFor(const std::string& path, bool executable);
    // Gives the file opened by OpenUnnamedFor the name `path`, only where
    // nothing stands at that name (a link there is not followed). False when
    // the name is taken or the file cannot be named; nothing is changed then.
    bool NameAs(const std::string& path);
    // Closes the file and reports whether the close succeeded.
    bool Close();

private:
    // Records why Open failed (errno set to `error`); returns false.
    bool Fail(int error);
    // Closes the file opened at a name that holds no regular file.
    bool FailNotRegular(const char* what, int error);

    int fd_ = -1;
    std::string problem_;
};

bool PathExists(const std::string& path);
// Size of a file, or -1 when it cannot be taken.
long long FileSize(const std::string& path);
bool RemoveFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);

// Why a path could not be used, where a caller must tell a name the file
// system refuses from something of this machine standing in the way.
enum class PathProblem {
    kNone,
    kNameTooLong,    // a part longer than the file system allows
    kSymbolicLink,   // a symbolic link where a directory is needed
    kNotADirectory,  // something else where a directory is needed
    kIsADirectory,   // a directory where a file is to go
    kOther,          // anything else: permissions, a full disk ...
};
// RenameFile that says why it failed.
PathProblem RenameFileOver(const std::string& from, const std::string& to);
// Creates each directory of the relative path `directory` ('/'-separated),
// shallow before deep, existing ones kept, walking from the current directory
// without ever following a symbolic link. On failure `blocker` is the leading
// part of `directory` at fault.
PathProblem CreateDirectoriesBelowHere(const std::string& directory, std::string& blocker);
// Removes the file `path` ('/'-separated, relative) below the current
// directory, walking there without following a symbolic link; a link at the
// name itself is removed, never what it points to. False when nothing was
// removed.
bool RemoveFileBelowHere(const std::string& path);
// Size and modification time (in the platform's own units) of the regular
// file at `path`, a link at the name not followed; false otherwise.
bool FileStamp(const std::string& path, std::uint64_t& size, std::int64_t& modified);
// Makes a directory's entries (renames, creations) durable.
bool SyncDirectory(const std::string& path);
// Makes everything written below the current directory durable, at once: one
// call after a whole patch package instead of a sync per file.
bool SyncInstallation();
// Bytes the current user may still write on the file system of `directory`;
// -1 when it cannot be told.
long long FreeSpace(const std::string& directory);
// Reads a whole small file; false when it cannot be read, with the reason in
// `why` when given.
bool ReadWholeFile(const std::string& path, std::string& contents, std::string* why = nullptr);

// Writes `contents` to `path` by way of a temporary file in the same directory
// that is synced and renamed into place: readers see the old file or the new
// one, never a part. Returns false (old file intact, errno set) on any failure.
bool ReplaceFileAtomically(const std::string& path, const void* data, std::size_t size);

// The platform's directory separator.
constexpr char kPathSeparator = '/';

}  // namespace launcher

// The parts of the file service that every platform builds from File alone.
#include "platform/files.h"

#include <cerrno>
#include <system_error>

namespace launcher {

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(other.fd_), problem_(std::move(other.problem_)) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        problem_ = std::move(other.problem_);
        other.fd_ = -1;
    }
    return *this;
}

bool File::Fail(int error) {
    // A link is refused by the name's last part; the system calls that a loop.
    problem_ = error == ELOOP ? "a symbolic link, not followed"
                              : std::generic_category().message(error);
    errno = error;
    return false;
}

bool File::FailNotRegular(const char* what, int error) {
    Close();
    problem_ = std::string("not a regular file (") + what + ")";
    errno = error;
    return false;
}

bool ReadWholeFile(const std::string& path, std::string& contents, std::string* why) {
    File file;
    if (!file.Open(path, File::Mode::kRead)) {
        if (why) *why = file.Problem();
        return false;
    }
    contents.clear();
    char buffer[65536];
    for (;;) {
        long long got = file.ReadSome(buffer, sizeof buffer);
        if (got < 0) {
            if (why) *why = std::generic_category().message(errno);
            return false;
        }
        if (got == 0) return true;
        contents.append(buffer, static_cast<std::size_t>(got));
    }
}

namespace {

std::string DirectoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, const void* data, std::size_t size) {
    // One fixed name: a process killed before the rename leaves at most one
    // leftover, which the next write removes and creates anew.
    const std::string temporary = path + ".part";
    File file;
    if (!file.Open(temporary, File::Mode::kCreateFresh)) return false;
    bool ok = file.WriteAll(data, size) && file.Sync();
    ok = file.Close() && ok;
    if (ok) ok = RenameFile(temporary, path);
    if (!ok) {
        // errno stays the failure's, for the caller to name.
        const int error = errno;
        RemoveFile(temporary);
        errno = error;
        return false;
    }
    SyncDirectory(DirectoryOf(path));
    return true;
}

}  // namespace launcher

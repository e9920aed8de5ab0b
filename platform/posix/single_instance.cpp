// The lock is flock on a file in a directory only this user can write to
// ($XDG_RUNTIME_DIR, else the user's cache directory), named after the lock
// and the installation directory. The kernel drops a flock with the last
// descriptor of it, so a crash leaves no stale lock; the file itself stays.
#include "platform/single_instance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace launcher {

namespace {

// A directory another user could have made or could write to would let that
// user hold our lock, or swap the file under us: only our own will do.
int OpenPrivateDirectory(const std::string& path) {
    if (path.empty() || path[0] != '/') return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    const passwd* entry = ::getpwuid(::geteuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

int OpenLockDirectory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
        if (const int fd = OpenPrivateDirectory(runtime); fd >= 0) return fd;
    }
    std::string cache;
    if (const char* xdgCache = std::getenv("XDG_CACHE_HOME"); xdgCache && *xdgCache == '/') {
        cache = xdgCache;
    } else if (const std::string home = HomeDirectory(); !home.empty()) {
        cache = home + "/.cache";
    }
    if (cache.empty()) return -1;
    if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    return OpenPrivateDirectory(cache);
}

// FNV-1a of the canonical installation directory: a short, stable key.
std::string InstallationKey() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return "nodir";
        buffer.resize(buffer.size() * 2);
    }
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char* c = buffer.data(); *c; ++c) {
        hash ^= static_cast<unsigned char>(*c);
        hash *= 1099511628211ULL;
    }
    char key[17];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(hash));
    return key;
}

}  // namespace

SingleInstanceLock::SingleInstanceLock(const std::string& name) {
    const int directory = OpenLockDirectory();
    if (directory < 0) return;
    const std::string file = name + "-" + InstallationKey() + ".lock";
    // Close-on-exec: the game we start must not keep the launcher's lock.
    const int fd =
        ::openat(directory, file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    ::close(directory);
    if (fd < 0) return;
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        ::close(fd);
        return;
    }
    handle_ = fd;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
}

}  // namespace launcher

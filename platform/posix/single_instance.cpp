// The lock is flock on a file in the installation directory itself: every
// launcher of the installation finds it there, whatever its environment. The
// kernel drops a flock with the last descriptor of it, so a crash leaves no
// stale lock; the file itself stays.
#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace launcher {

SingleInstanceLock::SingleInstanceLock(const std::string& name) {
    // A dot-name: out of the player's sight, and no game file is called so.
    const std::string file = "." + name + ".lock";
    // Never through a link; close-on-exec, so the game we start does not keep
    // the launcher's lock; non-blocking, so a FIFO at the name cannot hang us.
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        failure_ = "cannot create the lock file " + file + ": " + std::generic_category().message(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        failure_ = "the lock file " + file + " is not a regular file";
        return;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        // Only a lock someone holds means another launcher.
        heldElsewhere_ = errno == EWOULDBLOCK;
        if (!heldElsewhere_) failure_ = "cannot lock " + file + ": " + std::generic_category().message(errno);
        ::close(fd);
        return;
    }
    handle_ = fd;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
}

}  // namespace launcher

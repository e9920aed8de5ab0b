// The lock is a unix socket bound to a name in the abstract namespace: the
// name exists exactly as long as the socket, and the socket as long as the
// process, so nothing is left behind on disk or after a crash.
#include "platform/single_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace launcher {

SingleInstanceLock::SingleInstanceLock(const std::string& name) {
    // Close-on-exec: the game we start must not keep the launcher's lock.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    // sun_path[0] stays 0: the abstract namespace.
    std::memcpy(address.sun_path + 1, name.data(), length);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        ::close(fd);
        return;
    }
    handle_ = fd;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
}

}  // namespace launcher

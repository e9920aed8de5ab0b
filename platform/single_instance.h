// One launcher at a time: a named lock that the kernel drops when its holder
// ends, however it ends, so a crashed launcher never blocks the next one.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

// The lock of the launcher, its console front end and the updater.
inline constexpr const char* kLauncherLockName = "Brevane";

class SingleInstanceLock {
public:
    // Tries to take the lock called `name` for the installation directory (the
    // current directory) and the user running us: other users and other
    // installations have locks of their own. See Acquired().
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // False when another holder, in this or another process, has the name.
    bool Acquired() const { return handle_ != -1; }

private:
    std::intptr_t handle_ = -1;
};

}  // namespace launcher

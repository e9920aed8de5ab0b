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
    // current directory): every launcher of that installation finds the same
    // lock, whoever runs it and whatever its environment.
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    bool Acquired() const { return handle_ != -1; }
    // True only when another holder, in this or another process, has the lock.
    bool HeldElsewhere() const { return heldElsewhere_; }
    // Why the lock could not be taken when it is not held elsewhere either
    // ("cannot create the lock file ...: Read-only file system"); else empty.
    const std::string& Failure() const { return failure_; }

private:
    std::intptr_t handle_ = -1;
    bool heldElsewhere_ = false;
    std::string failure_;
};

}  // namespace launcher

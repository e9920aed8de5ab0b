// The lock is the named mutex "Brevane" of the session, the one every launcher
// on Windows has always taken: Windows closes its handle, and so frees the
// name, when the holder ends, however it ends.
#include "platform/single_instance.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace launcher {

SingleInstanceLock::SingleInstanceLock(const std::string& name) {
    // Not inheritable: the game we start must not keep the launcher's lock.
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, win32::Wide(name).c_str());
    const DWORD error = ::GetLastError();
    if (mutex && error != ERROR_ALREADY_EXISTS) {
        handle_ = reinterpret_cast<std::intptr_t>(mutex);
        return;
    }
    if (mutex) ::CloseHandle(mutex);
    // A mutex of that name made by a launcher running with other rights is
    // refused to us, but held all the same.
    heldElsewhere_ = error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
    if (!heldElsewhere_)
        failure_ = "cannot create the mutex " + name + " (error " + std::to_string(error) + ")";
}

SingleInstanceLock::~SingleInstanceLock() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace launcher

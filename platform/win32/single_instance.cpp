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
    if (!mutex) return;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
}

SingleInstanceLock::~SingleInstanceLock() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace launcher

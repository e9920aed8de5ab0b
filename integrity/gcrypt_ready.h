// libgcrypt is set up once per process before its first use.
#pragma once

#include <gcrypt.h>

namespace launcher::integrity {

inline bool GcryptReady() {
    static const bool ok = [] {
        if (!gcry_check_version(GCRYPT_VERSION)) return false;
        // Nothing secret stays in memory long enough to need locked pages.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ok;
}

}  // namespace launcher::integrity

# Signed updates. A public key makes the launcher accept only what an operator
# signed with `mkpatch sign`; several keys ("KEY1;KEY2") let a new key take over
# from an old one. Without a key nothing of the launcher needs a cryptography
# library.
set(LAUNCHER_UPDATE_PUBLIC_KEY "" CACHE STRING
    "Base64 Ed25519 public key(s) of signed updates, ';'-separated; empty: updates unchecked")
set(LAUNCHER_PINNED_PUBLIC_KEY "" CACHE STRING
    "TLS public key pin of the hosts in curl's form (sha256//BASE64;...); empty: no pin")

# Linux: libsodium for Ed25519, OpenSSL's libcrypto for SHA-256 (it uses the
# CPU's SHA instructions; libsodium's portable code hashes at a fraction of the
# speed). Windows: libgcrypt for both (Debian's libgcrypt-mingw-w64-dev; there
# is no libsodium or OpenSSL for MinGW), linked in statically.
set(LAUNCHER_HAVE_INTEGRITY OFF)
if(WIN32)
  find_path(GCRYPT_INCLUDE_DIR gcrypt.h)
  find_library(GCRYPT_LIBRARY NAMES libgcrypt.a gcrypt)
  find_library(GPG_ERROR_LIBRARY NAMES libgpg-error.a gpg-error)
  if(GCRYPT_INCLUDE_DIR AND GCRYPT_LIBRARY AND GPG_ERROR_LIBRARY)
    add_library(launcher_crypto_backend INTERFACE)
    target_include_directories(launcher_crypto_backend INTERFACE ${GCRYPT_INCLUDE_DIR})
    target_link_libraries(launcher_crypto_backend INTERFACE ${GCRYPT_LIBRARY} ${GPG_ERROR_LIBRARY} ws2_32)
    set(LAUNCHER_HAVE_INTEGRITY ON)
  endif()
else()
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(SODIUM QUIET IMPORTED_TARGET libsodium)
  endif()
  find_package(OpenSSL QUIET COMPONENTS Crypto)
  if(SODIUM_FOUND AND OPENSSL_FOUND)
    add_library(launcher_crypto_backend INTERFACE)
    target_link_libraries(launcher_crypto_backend INTERFACE PkgConfig::SODIUM OpenSSL::Crypto)
    set(LAUNCHER_HAVE_INTEGRITY ON)
  endif()
endif()
if(LAUNCHER_UPDATE_PUBLIC_KEY AND NOT LAUNCHER_HAVE_INTEGRITY)
  message(FATAL_ERROR "LAUNCHER_UPDATE_PUBLIC_KEY needs libsodium and OpenSSL (libsodium-dev, "
                      "libssl-dev), or on Windows libgcrypt (libgcrypt-mingw-w64-dev)")
endif()
# The Windows HTTP client cannot pin yet: refuse rather than build a launcher
# that silently ignores the pin.
if(WIN32 AND LAUNCHER_PINNED_PUBLIC_KEY)
  message(FATAL_ERROR "LAUNCHER_PINNED_PUBLIC_KEY is not supported by the Windows HTTP client yet")
endif()

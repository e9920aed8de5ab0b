// The signed update manifest ("SERVERVER.SIG" beside the version list): what an
// operator vouches for in one release. A short text, one field per line:
//
//   corvatheon2-update-manifest 1
//   serial 1718000000
//   expires 1720592000
//   latest 6
//   launcher 1.1.6.0
//   file Launcher.exe_ 812344 <64 hex digits of SHA-256>
//   file 00001.DAT 20480 <64 hex digits>
//   signature <base64 of the Ed25519 signature over every line above>
//
// The signature covers the bytes before its own line, exactly as they are.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace launcher::integrity {

inline constexpr const char* kManifestFile = "SERVERVER.SIG";
inline constexpr const char* kManifestMagic = "corvatheon2-update-manifest 1";

struct ManifestFile {
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
};

struct UpdateManifest {
    std::uint64_t serial = 0;
    std::int64_t expires = 0;  // seconds since 1970 (UTC)
    int latest = 0;
    std::string launcherVersion;
    std::map<std::string, ManifestFile> files;
};

// The text the signature covers.
std::string FormatManifestBody(const UpdateManifest& manifest);

// Splits a signed manifest into the signed bytes and the signature (base64)
// and reads the fields. False with `why` for anything malformed.
bool ParseSignedManifest(const std::string& text, std::string& body, std::string& signature,
                         UpdateManifest& manifest, std::string& why);

}  // namespace launcher::integrity

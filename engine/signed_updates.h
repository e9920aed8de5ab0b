// The engine's steps for signed updates; each does nothing when the build
// carries no verifier.
#pragma once

#include <cstdint>
#include <string>

#include "transfer/download_file.h"

namespace launcher {

// Fetches the signed manifest beside the version list (five attempts) and
// checks it against the list. False ends the run like a failed list.
bool AcceptSignedManifest(const std::string& launcherVersion, int latest);

enum class CheckedFetch { kFetched, kNotFetched, kDamaged };

// Fetches `localPath` from `url`; with a verifier the file is capped at the
// manifest's size and must have its SHA-256, or it is deleted (kDamaged). A
// mismatch after continuing a kept part is fetched once more from byte 0.
// `failure` tells why a file was not fetched, `why` why it was refused.
// `maxBodyBytes` and `quiet` as for FetchWithRetries.
CheckedFetch FetchListedFile(const std::string& url, const std::string& localPath,
                             DownloadFailure& failure, std::string& why,
                             std::uint64_t maxBodyBytes = 0, bool quiet = false);

// Leaves the accepted manifest beside the replacement launcher for the
// updater; false when it cannot be written.
bool HandOverManifest();

}  // namespace launcher

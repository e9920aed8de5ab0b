// Fetching a remote file the way every caller of the engine does: up to five
// attempts in a row, without pause, stopping at the first complete file.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

class IFileCheck;

inline constexpr int kDownloadAttempts = 5;

// 1 when the local file is complete, 0 when every attempt failed (or the run
// was stopped). `maxBodyBytes` caps what a server may send (0: no cap);
// `check` (may be null) caps and hashes the file for a signed manifest.
int FetchWithRetries(const std::string& url, const std::string& localPath,
                     std::uint64_t maxBodyBytes = 0, IFileCheck* check = nullptr);

}  // namespace launcher

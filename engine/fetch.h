// Fetching a remote file the way every caller of the engine does: up to five
// attempts in a row, without pause, stopping at the first complete file.
#pragma once

#include <cstdint>
#include <string>

#include "transfer/download_file.h"

namespace launcher {

class IFileCheck;

inline constexpr int kDownloadAttempts = 5;

// 1 when the local file is complete, 0 when every attempt failed (or the run
// was stopped). `maxBodyBytes` caps what a server may send and marks a small
// file (the version list, the signed manifest): each attempt at it must end
// within the environment's http.deadlineMs. Without a cap (0), attempts are
// held to the rate floor instead.
// `failure`, when given, receives why the last attempt failed. `check` (may be
// null) caps and hashes the file for a signed manifest.
// `quiet`: a file the server may not publish, fetched without a word to the
// window; an answer of 404 or 410 ends it at once.
int FetchWithRetries(const std::string& url, const std::string& localPath,
                     std::uint64_t maxBodyBytes = 0, DownloadFailure* failure = nullptr,
                     IFileCheck* check = nullptr, bool quiet = false);

// Whether a failed fetch ended on an answer saying the file is not there.
bool NotPublished(const DownloadFailure& failure);

// Why `what` (for example "the version list") did not arrive, in words: a
// local file that could not be written is told apart from a server that did
// not deliver, and a file above the cap is named as too long.
std::string DescribeFetchFailure(const std::string& what, const std::string& url,
                                 const std::string& localPath, std::uint64_t maxBodyBytes,
                                 const DownloadFailure& failure);

}  // namespace launcher

// One download attempt of a remote file into a local file, continuing a local
// file that is already there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "owner/engine_owner.h"
#include "platform/http.h"
#include "transfer/file_check.h"

namespace launcher {

class StopFlag;

struct DownloadContext {
    // Receives the bar messages and WM_DOWNLOAD_PROGRESS; may be null.
    IEngineOwner* owner = nullptr;
    // Position of the total bar after a block, from the bytes present (L) and
    // announced (T); asked afresh for every block.
    std::function<int(std::uint32_t present, std::uint32_t announced)> totalBarPosition;
    HttpSettings http;
    std::shared_ptr<StopFlag> stop;
    // When set: the file's size and hash from a signed manifest (may be null).
    IFileCheck* check = nullptr;
    // Whether to refuse a file the disk has no room for (packages).
    bool checkFreeSpace = false;
};

// Step of the total bar and its position for patch numbers latest N, start B,
// client C and a file with L of T bytes present.
int TotalBarStep(int latest, int start);
int TotalBarPosition(int latest, int start, int client, std::uint32_t present,
                     std::uint32_t announced);

// Colours the fetcher gives the bars at the start of every attempt.
constexpr std::uint32_t kBarBackground = Rgb(0, 0, 0);
constexpr std::uint32_t kFileBarColor = Rgb(32, 164, 255);
constexpr std::uint32_t kTotalBarColor = Rgb(60, 255, 0);

// Why an attempt returned 0, so that a message can say what went wrong: the
// server and the installation directory call for different remedies.
struct DownloadFailure {
    enum class Kind {
        kNone,
        kRemote,     // no usable answer: connection, status, length or body
        kLocalFile,  // the local file could not be opened, written or closed
        kTooLarge,   // the announced length is above HttpSettings::maxBodyBytes
        kOver4GiB,   // the announced length does not fit the 32-bit progress and offsets
        kDiskFull,   // too little free space for the file and its unpacking
    };
    Kind kind = Kind::kNone;
    int localError = 0;  // errno of the failed file operation (kLocalFile), 0 if unknown
    // kRemote: what the HTTP client named of it ("more than 10 redirects"), or empty.
    std::string remoteReason = {};
    std::uint64_t announced = 0;  // kOver4GiB: the length the server announced
    int status = 0;               // HTTP status of the answer, 0 when none came
    // kDiskFull: what the file needs and what is free, in bytes.
    std::uint64_t needed = 0;
    std::uint64_t free = 0;
};

// Room a file of `announced` bytes with `present` of them on disk needs: the
// rest of it, and, for a package, its entries unpacked beside it (each is
// written to a temporary before it replaces the old file, and the package
// stays until all are in). Zlib rarely packs game data tighter than 2:1, so
// twice the package covers the unpacked entries.
inline constexpr std::uint64_t kUnpackMargin = 2;
std::uint64_t SpaceNeeded(std::uint64_t announced, std::uint64_t present);

// Returns 1 when the local file ends the attempt with the announced length, 0
// otherwise (and says why in `failure` when it is given). Never deletes a
// partial local file of a package; a local file longer than the remote one is
// emptied so that the next attempt starts over.
int DownloadFile(const std::string& url, const std::string& localPath,
                 const DownloadContext& context, DownloadFailure* failure = nullptr);

}  // namespace launcher

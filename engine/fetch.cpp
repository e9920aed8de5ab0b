#include "engine/fetch.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "engine/deployment.h"
#include "engine/my_fun.h"
#include "engine/run_log.h"
#include "platform/files.h"
#include "transfer/download_file.h"

namespace launcher {

namespace {

// Forwards the fetcher's calls to the engine's owner, and drops them once the
// window has been closed.
class GatedOwner final : public IEngineOwner {
public:
    void ShowControl(int controlId, int showCommand) override { OwnerShow(controlId, showCommand); }
    void SetControlText(int controlId, const std::string& text) override {
        OwnerSetText(controlId, text);
    }
    void SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                       std::uint32_t lParam) override {
        OwnerSend(controlId, message, wParam, lParam);
    }
    void OnCancel() override {}
};

}  // namespace

bool NotPublished(const DownloadFailure& failure) {
    return failure.status == 404 || failure.status == 410;
}

int FetchWithRetries(const std::string& url, const std::string& localPath,
                     std::uint64_t maxBodyBytes, DownloadFailure* failure,
                     IFileCheck* check, bool quiet) {
    GatedOwner owner;
    DownloadContext context;
    context.owner = quiet ? nullptr : &owner;
    // The version numbers are read afresh for every block. Before the version
    // list has been read the arithmetic can leave the bar's range (a latest
    // number of 0 gives a negative step); the bar shows the clamped value.
    context.totalBarPosition = [](std::uint32_t present, std::uint32_t announced) {
        const int position = TotalBarPosition(CMyFun::m_nLatestVersion, CMyFun::m_nStartVersion,
                                              CMyFun::m_nClientVersion, present, announced);
        return std::clamp(position, 0, 100);
    };
    if (const EngineEnvironment* env = CMyFun::m_pEnvironment) {
        context.http = env->http;
        context.stop = env->stop;
    }
    if (maxBodyBytes) {
        // A small file the run reads first: each attempt within the deadline.
        context.http.maxBodyBytes = maxBodyBytes;
        context.http.lowSpeedBytes = 0;
    } else {
        // Packages may take long on a slow line; only the rate floor holds them.
        context.http.deadlineMs = 0;
        context.checkFreeSpace = true;
    }
    context.check = check;

    DownloadFailure ours;
    DownloadFailure& why = failure ? *failure : ours;
    // Real time, as the HTTP client's own floor: the engine's clock may be a
    // test's, standing still.
    using Steady = std::chrono::steady_clock;
    auto msSince = [](Steady::time_point start) {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count());
    };
    // Only attempts that brought nothing count against the five: one that
    // added bytes (the next continues where it ended) is progress. The file as
    // a whole is held to the rate floor instead, so a trickle still ends.
    const Steady::time_point firstStarted = Steady::now();
    std::uint64_t gained = 0;
    for (int fruitless = 0; fruitless < kDownloadAttempts;) {
        if (EngineStopped()) return 0;
        const long long before = std::max(FileSize(localPath), 0LL);
        const Steady::time_point started = Steady::now();
        const int fetched = DownloadFile(url, localPath, context, &why);
        const long long after = std::max(FileSize(localPath), 0LL);
        std::string line = "GET " + url + " status " + std::to_string(why.status) + ", " +
                           ByteCount(static_cast<std::uint64_t>(std::max(after - before, 0LL))) +
                           " in " + std::to_string(msSince(started)) + " ms";
        if (!fetched)
            line += ", failed: " + DescribeFetchFailure("it", url, localPath, maxBodyBytes, why);
        LogLine(line);
        if (fetched == 1) return 1;
        if (why.kind == DownloadFailure::Kind::kDiskFull) return 0;  // no attempt frees space
        if (quiet && NotPublished(why)) return 0;
        // Small files have no floor: every attempt at them counts.
        if (after > before && context.http.lowSpeedBytes > 0) {
            gained += static_cast<std::uint64_t>(after - before);
            const std::uint64_t elapsedMs = msSince(firstStarted);
            const std::uint64_t floorMs = std::uint64_t{context.http.lowSpeedSeconds} * 1000;
            if (elapsedMs >= floorMs &&
                gained * 1000 < std::uint64_t{context.http.lowSpeedBytes} * elapsedMs)
                return 0;
        } else {
            ++fruitless;
        }
    }
    return 0;
}

std::string DescribeFetchFailure(const std::string& what, const std::string& url,
                                 const std::string& localPath, std::uint64_t maxBodyBytes,
                                 const DownloadFailure& failure) {
    switch (failure.kind) {
        case DownloadFailure::Kind::kLocalFile: {
            std::string text =
                what + " could not be written in the installation directory (" + localPath;
            if (failure.localError != 0)
                text += ": " + std::generic_category().message(failure.localError);
            return text + ")";
        }
        case DownloadFailure::Kind::kTooLarge: {
            constexpr std::uint64_t kMiB = 1024 * 1024;
            const std::string limit = maxBodyBytes % kMiB == 0
                                          ? std::to_string(maxBodyBytes / kMiB) + " MiB"
                                          : std::to_string(maxBodyBytes) + " bytes";
            return what + " at " + url + " is too long (more than " + limit + ")";
        }
        case DownloadFailure::Kind::kDiskFull:
            return what + " needs " + ByteCount(failure.needed) +
                   " free in the installation directory (to download and unpack it); " +
                   ByteCount(failure.free) + " are free";
        case DownloadFailure::Kind::kOver4GiB:
            return what + " at " + url + " is " + std::to_string(failure.announced) +
                   " bytes long; this launcher fetches files below 4 GiB (4294967296 bytes)";
        default:
            return what + " could not be fetched from " + url +
                   (failure.remoteReason.empty() ? "" : " (" + failure.remoteReason + ")");
    }
}

}  // namespace launcher

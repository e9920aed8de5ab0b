#include "transfer/download_file.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/stop_flag.h"

namespace launcher {
namespace {

constexpr std::size_t kBlockSize = 1024;
// Received blocks are gathered and written in larger pieces; every piece is
// written before the attempt returns, so the file holds all that arrived.
constexpr std::size_t kGatherSize = 256 * 1024;

class GatheredWriter {
public:
    explicit GatheredWriter(File& file) : file_(file) { pending_.reserve(kGatherSize); }

    bool Append(const char* data, std::size_t size) {
        pending_.insert(pending_.end(), data, data + size);
        return pending_.size() < kGatherSize || Flush();
    }

    bool Flush() {
        bool ok = pending_.empty() || file_.WriteAll(pending_.data(), pending_.size());
        pending_.clear();
        return ok;
    }

private:
    File& file_;
    std::vector<char> pending_;
};

}  // namespace

int TotalBarStep(int latest, int start) {
    const long long span = static_cast<long long>(latest) - start;
    return span == 0 ? 100 : static_cast<int>(100 / span);
}

int TotalBarPosition(int latest, int start, int client, std::uint32_t present,
                     std::uint32_t announced) {
    const std::uint32_t completed = announced == 0 ? 0 : present / announced;
    const long long steps = static_cast<long long>(client) - start + completed;
    // The bar takes a 32-bit value; wrap the way the 32-bit arithmetic would.
    return static_cast<int>(static_cast<std::uint32_t>(steps * TotalBarStep(latest, start)));
}

std::uint64_t SpaceNeeded(std::uint64_t announced, std::uint64_t present) {
    return (announced > present ? announced - present : 0) + kUnpackMargin * announced;
}

int DownloadFile(const std::string& url, const std::string& localPath,
                 const DownloadContext& context, DownloadFailure* failure) {
    DownloadFailure ignored;
    DownloadFailure& why = failure ? *failure : ignored;
    why = {DownloadFailure::Kind::kRemote, 0};
    // errno is cleared before each file operation and taken right after a
    // failing one, so a stale value never names the wrong cause.
    auto localFailure = [&why](int error) {
        why = {DownloadFailure::Kind::kLocalFile, error};
        return 0;
    };
    auto remoteFailure = [&why, &context](HttpFailure named) {
        why.remoteReason = DescribeHttpFailure(named, context.http);
        return 0;
    };

    auto session = OpenHttpSession(context.http, context.stop);
    if (!session) return 0;

    auto send = [&](int control, unsigned message, std::uint32_t wParam, std::uint32_t lParam) {
        if (context.owner) context.owner->SendMessageTo(control, message, wParam, lParam);
    };
    send(kIdProgressFile, kPbmSetPos, 0, 0);
    send(kIdProgressTotal, kPbmSetPos, 0, 0);
    send(kIdProgressFile, kPbmSetBkColor, 0, kBarBackground);
    send(kIdProgressFile, kPbmSetBarColor, 0, kFileBarColor);
    send(kIdProgressTotal, kPbmSetBkColor, 0, kBarBackground);
    send(kIdProgressTotal, kPbmSetBarColor, 0, kTotalBarColor);

    File file;
    std::unique_ptr<HttpRequest> request;
    std::uint64_t present = 0;
    if (PathExists(localPath)) {
        // Continuing: the local file first, so that its length decides the range.
        errno = 0;
        if (!file.Open(localPath, File::Mode::kWriteExisting)) return localFailure(errno);
        const long long size = file.Size();
        if (size < 0) return localFailure(errno);
        present = static_cast<std::uint64_t>(size);
        // A file beyond 32 bits is longer than any remote one; the plain answer
        // shows that and the file is started over below.
        const bool movable = present > 0 && present <= UINT32_MAX;
        const auto offset = movable ? static_cast<std::uint32_t>(present) : 0u;
        request = session->OpenUrl(url, offset);
        if (!request) return remoteFailure(session->LastFailure());
        if (movable && !request->SetReadPosition(offset)) return remoteFailure(request->Failure());
    } else {
        // New: a server that cannot be reached leaves no file behind.
        request = session->OpenUrl(url, 0);
        if (!request) return remoteFailure(session->LastFailure());
        errno = 0;
        if (!file.Open(localPath, File::Mode::kCreateAlways)) return localFailure(errno);
    }

    int status = 0;
    if (!request->QueryStatusCode(status)) return 0;
    why.status = status;
    if (status != 200) {
        why.remoteReason = "HTTP status " + std::to_string(status);
        return 0;
    }
    std::uint64_t length = request->QueryContentLength();
    if (length == 0) {
        why.remoteReason = "no length announced";
        return 0;
    }
    if (context.http.maxBodyBytes > 0 && length > context.http.maxBodyBytes) {
        why.kind = DownloadFailure::Kind::kTooLarge;
        return 0;
    }
    IFileCheck* check = context.check;
    // Never more than the signed size: a longer answer is cut here and its
    // hash decides.
    if (check) length = std::min<std::uint64_t>(length, check->Size());
    // Read positions, progress and the bar's range are 32-bit values.
    if (length > UINT32_MAX) {
        why.kind = DownloadFailure::Kind::kOver4GiB;
        why.announced = length;
        return 0;
    }
    const auto announced = static_cast<std::uint32_t>(length);
    if (context.checkFreeSpace) {
        const std::uint64_t needed = SpaceNeeded(announced, present);
        const long long free = FreeSpace(".");
        if (free >= 0 && static_cast<std::uint64_t>(free) < needed) {
            why.kind = DownloadFailure::Kind::kDiskFull;
            why.needed = needed;
            why.free = static_cast<std::uint64_t>(free);
            return 0;
        }
    }
    if (check) {
        check->Begin();
        if (present <= announced && !FeedFilePrefix(localPath, present, *check))
            return localFailure(errno);
    }

    send(kIdProgressFile, kPbmSetRange32, 0, announced);
    send(kDialog, kWmDownloadProgress, static_cast<std::uint32_t>(present), announced);

    GatheredWriter writer(file);
    bool written = true;
    int writeError = 0;
    std::vector<char> block(kBlockSize);
    HttpFailure readFailure = HttpFailure::kUnnamed;
    while (present < announced) {
        if (context.stop && context.stop->IsStopped()) break;
        std::size_t delivered = 0;
        if (!request->Read(block.data(), block.size(), delivered)) {
            readFailure = request->Failure();
            break;
        }
        if (delivered == 0) break;
        if (check) {
            delivered =
                static_cast<std::size_t>(std::min<std::uint64_t>(delivered, announced - present));
            check->Update(block.data(), delivered);
        }
        errno = 0;
        if (!writer.Append(block.data(), delivered)) {
            writeError = errno;
            written = false;
            break;
        }
        present += delivered;
        const auto l = static_cast<std::uint32_t>(present);
        const int position = context.totalBarPosition ? context.totalBarPosition(l, announced) : 0;
        send(kIdProgressTotal, kPbmSetPos, static_cast<std::uint32_t>(position), 0);
        send(kDialog, kWmDownloadProgress, l, announced);
    }
    errno = 0;
    if (written && !writer.Flush()) {
        writeError = errno;
        written = false;
    }

    if (present > announced) {
        // A stale file longer than the remote one would fail every attempt;
        // emptied, the next attempt starts over.
        file.Truncate(0);
        file.Close();
        return 0;
    }
    if (!written) return localFailure(writeError);
    errno = 0;
    if (!file.Close()) return localFailure(errno);
    if (present != announced) return remoteFailure(readFailure);
    why.kind = DownloadFailure::Kind::kNone;
    return 1;
}

}  // namespace launcher

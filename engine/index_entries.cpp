#include "engine/index_entries.h"

#include <algorithm>
#include <chrono>

#include "engine/deployment.h"
#include "engine/fetch.h"
#include "engine/my_fun.h"
#include "engine/run_log.h"
#include "engine/version_records.h"
#include "platform/files.h"
#include "transfer/apply_patch_package.h"
#include "transfer/download_file.h"
#include "transfer/fetch_range.h"
#include "transfer/package_format.h"

namespace launcher {

namespace {

constexpr std::size_t kHeaderBytes = 4;

// Adjacent entries of one package, fetched with one request.
struct Range {
    int package = 0;
    std::uint64_t source = 0;    // offset in the package
    std::uint64_t gathered = 0;  // offset in the gathered package
    std::uint64_t length = 0;
};

std::vector<Range> RangesOf(const std::vector<IndexedFile>& files) {
    std::vector<Range> ranges;
    std::uint64_t at = kHeaderBytes;
    for (const IndexedFile& file : files) {
        Range* last = ranges.empty() ? nullptr : &ranges.back();
        if (last && last->package == file.package && last->source + last->length == file.offset) {
            last->length += file.length;
        } else {
            ranges.push_back({file.package, file.offset, at, file.length});
        }
        at += file.length;
    }
    return ranges;
}

std::string PackageUrl(int package) {
    return CMyFun::m_pEnvironment->deployment.downloadHost + kPatchPath + FiveDigits(package) +
           ".DAT";
}

// Checks the entry headers that lie whole within the first `size` bytes of
// the gathered package against the index. Empty when they all match.
std::string CheckGathered(File& file, std::uint64_t size, const std::vector<IndexedFile>& files) {
    std::uint64_t at = kHeaderBytes;
    std::string bytes;
    for (const IndexedFile& entry : files) {
        const std::uint64_t head = kEntryFixedBytes + entry.name.size() + 1;
        if (at + head > size) break;
        bytes.resize(static_cast<std::size_t>(head));
        if (!file.Seek(at) || !file.ReadExact(bytes.data(), bytes.size()))
            return "the gathered entries cannot be read back";
        const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
        const std::uint32_t nameLength = GetUint32(raw);
        const std::string name(bytes.data() + 4,
                               std::min<std::size_t>(nameLength, static_cast<std::size_t>(head - 4)));
        const std::string stored = name.substr(0, name.find('\0'));
        if (nameLength != entry.name.size() + 1 || stored != entry.name ||
            kEntryFixedBytes + nameLength + GetUint32(raw + 8 + nameLength) != entry.length) {
            return "byte " + std::to_string(entry.offset) + " of " + FiveDigits(entry.package) +
                   ".DAT holds " +
                   (stored.empty() ? std::string("another entry") : "'" + stored + "'") +
                   ", not the " + std::to_string(entry.length) + "-byte entry '" + entry.name +
                   "' the file index names";
        }
        at += entry.length;
    }
    return {};
}

// The progress bars and the speed line, from the entry bytes of the gathered
// package (its header, written here, is no download to continue).
class Progress {
public:
    explicit Progress(std::uint64_t total) : total_(total) {
        while ((total_ >> shift_) > UINT32_MAX) ++shift_;
    }
    void Start(std::uint64_t present) {
        OwnerSend(kIdProgressFile, kPbmSetPos, 0, 0);
        OwnerSend(kIdProgressFile, kPbmSetRange32, 0, Scaled(total_));
        Show(present);
    }
    void Show(std::uint64_t present) {
        OwnerSend(kIdProgressTotal, kPbmSetPos, static_cast<std::uint32_t>(present * 100 / total_),
                  0);
        OwnerSend(kDialog, kWmDownloadProgress, Scaled(present), Scaled(total_));
    }

private:
    std::uint32_t Scaled(std::uint64_t value) const {
        return static_cast<std::uint32_t>(value >> shift_);
    }
    const std::uint64_t total_;
    int shift_ = 0;
};

// Fetches what the gathered package still lacks; empty `why` on success.
EntriesOutcome FetchMissing(File& out, std::uint64_t present, std::uint64_t total,
                            const std::vector<Range>& ranges, std::uint64_t& fetched,
                            std::string& why) {
    const EngineEnvironment* env = CMyFun::m_pEnvironment;
    auto session = OpenHttpSession(env->http, env->stop);
    if (!session) {
        why = "no HTTP session could be opened";
        return EntriesOutcome::kFailed;
    }
    Progress progress(total - kHeaderBytes);
    progress.Start(present - kHeaderBytes);
    for (const Range& range : ranges) {
        const std::uint64_t end = range.gathered + range.length;
        for (int fruitless = 0; present < end;) {
            if (EngineStopped()) return EntriesOutcome::kStopped;
            if (fruitless == kDownloadAttempts) return EntriesOutcome::kFailed;
            const std::uint64_t skip = present - range.gathered;
            const std::string url = PackageUrl(range.package);
            const auto started = std::chrono::steady_clock::now();
            const RangeResult result =
                FetchByteRange(*session, env->http, url, range.source + skip, range.length - skip,
                               [&](const char* data, std::size_t size) {
                                   if (!out.WriteAll(data, size)) return false;
                                   present += size;
                                   fetched += size;
                                   progress.Show(present - kHeaderBytes);
                                   return true;
                               });
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - started)
                                .count();
            LogLine("GET " + url + " bytes " + std::to_string(range.source + skip) + "-" +
                    std::to_string(range.source + range.length - 1) + ", " +
                    ByteCount(result.delivered) + " in " + std::to_string(ms) + " ms" +
                    (result.why.empty() ? "" : ", failed: " + result.why));
            switch (result.failure) {
                case RangeFailure::kNone:
                    break;
                case RangeFailure::kTransfer:
                    why = result.why;
                    if (result.delivered == 0) ++fruitless;
                    break;
                case RangeFailure::kLocal:
                    why = std::string(kGatheredPackage) + " could not be written";
                    return EntriesOutcome::kFailed;
                default:
                    why = result.why;
                    return EntriesOutcome::kFailed;
            }
        }
    }
    return EntriesOutcome::kApplied;
}

}  // namespace

EntriesOutcome FetchAndApplyEntries(const std::vector<IndexedFile>& files, std::uint64_t& fetched,
                                    std::string& why) {
    fetched = 0;
    if (files.empty()) {
        RemoveFile(kGatheredPackage);  // a part for entries no longer needed
        return EntriesOutcome::kApplied;
    }
    const std::vector<Range> ranges = RangesOf(files);
    const std::uint64_t total = ranges.back().gathered + ranges.back().length;

    // A part left by an interrupted run is continued when it was gathered for
    // the same entries; anything else starts over.
    File out;
    std::uint64_t present = 0;
    if (out.Open(kGatheredPackage, File::Mode::kRead)) {
        const long long size = out.Size();
        unsigned char count[kHeaderBytes] = {};
        if (size >= static_cast<long long>(kHeaderBytes) &&
            static_cast<std::uint64_t>(size) <= total && out.ReadExact(count, sizeof count) &&
            GetUint32(count) == files.size() &&
            CheckGathered(out, static_cast<std::uint64_t>(size), files).empty()) {
            present = static_cast<std::uint64_t>(size);
        }
        out.Close();
    }
    if (present > 0) {
        LogLine("continuing " + std::string(kGatheredPackage) + " at " + ByteCount(present) +
                " of " + ByteCount(total));
        if (!out.Open(kGatheredPackage, File::Mode::kWriteExisting)) present = 0;
    }
    if (present == 0) {
        const std::string header = EncodePackageHeader(static_cast<std::int32_t>(files.size()));
        if (!out.Open(kGatheredPackage, File::Mode::kCreateAlways) ||
            !out.WriteAll(header.data(), header.size())) {
            why = std::string(kGatheredPackage) +
                  " could not be written in the installation directory";
            return EntriesOutcome::kFailed;
        }
        present = kHeaderBytes;
    }

    std::uint64_t unpacked = 0;
    for (const IndexedFile& file : files) unpacked += file.size;
    const long long free = FreeSpace(".");
    const std::uint64_t needed = total - present + unpacked;
    if (free >= 0 && static_cast<std::uint64_t>(free) < needed) {
        why = "the files named by the file index need " + ByteCount(needed) +
              " free in the installation directory; " +
              ByteCount(static_cast<std::uint64_t>(free)) + " are free";
        return EntriesOutcome::kFailed;
    }

    const EntriesOutcome got = FetchMissing(out, present, total, ranges, fetched, why);
    if (!out.Close() && got == EntriesOutcome::kApplied) {
        why = std::string(kGatheredPackage) + " could not be written";
        return EntriesOutcome::kFailed;
    }
    if (got != EntriesOutcome::kApplied) return got;

    File in;
    if (!in.Open(kGatheredPackage, File::Mode::kRead)) {
        why = std::string(kGatheredPackage) + " could not be opened: " + in.Problem();
        return EntriesOutcome::kFailed;
    }
    if (std::string wrong = CheckGathered(in, total, files); !wrong.empty()) {
        in.Close();
        RemoveFile(kGatheredPackage);
        why = wrong;
        return EntriesOutcome::kFailed;
    }
    ApplyExpectations expected;
    expected.newHash = CMyFun::m_pEnvironment->newContentHash;
    for (const IndexedFile& file : files)
        expected.entries.push_back({file.name, file.size, file.sha256});
    std::string problem;
    if (!in.Seek(0)) problem = "cannot read it";
    const ApplyResult applied = problem.empty()
                                    ? ApplyPatchPackageWithResult(in, &problem, &expected)
                                    : ApplyResult::kLocalFailure;
    in.Close();
    if (applied != ApplyResult::kApplied) {
        // Bytes at fault are fetched afresh next time; a local failure keeps them.
        if (applied == ApplyResult::kDamagedPackage) RemoveFile(kGatheredPackage);
        why = "the entries fetched by the file index could not be applied (" + problem + ")";
        return EntriesOutcome::kFailed;
    }
    if (!SyncInstallation()) {
        why = "the files fetched by the file index could not be made durable";
        return EntriesOutcome::kFailed;
    }
    RemoveFile(kGatheredPackage);
    return EntriesOutcome::kApplied;
}

}  // namespace launcher

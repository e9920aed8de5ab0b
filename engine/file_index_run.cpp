#include "engine/file_index_run.h"

#include <mutex>
#include <set>

#include "engine/deployment.h"
#include "engine/fetch.h"
#include "engine/index_entries.h"
#include "engine/installation_scan.h"
#include "engine/my_fun.h"
#include "engine/patch_loop.h"
#include "engine/run_log.h"
#include "engine/signed_updates.h"
#include "engine/version_records.h"
#include "platform/files.h"
#include "transfer/package_format.h"

namespace launcher {

namespace {

// An index lists each file in about a hundred bytes; this allows hundreds of
// thousands of files.
constexpr std::uint64_t kMaxIndexBytes = 64 * 1024 * 1024;

std::mutex g_summaryMutex;
std::string g_summary;

void SetSummary(const std::string& text) {
    std::lock_guard lock(g_summaryMutex);
    g_summary = text;
}

enum class Loaded { kLoaded, kAbsent, kBroken, kStopped };

// FILES.IDX from beside the version list, checked against the signed
// manifest when there is one.
Loaded LoadIndex(FileIndex& index, std::string& why) {
    const std::string url =
        CMyFun::m_pEnvironment->deployment.versionHost + kVersionPath + kFileIndexFile;
    RemoveFile(kFileIndexFile);
    DownloadFailure failure;
    const CheckedFetch fetched =
        FetchListedFile(url, kFileIndexFile, failure, why, kMaxIndexBytes, /*quiet=*/true);
    std::string text;
    const bool read = fetched == CheckedFetch::kFetched && ReadWholeFile(kFileIndexFile, text);
    RemoveFile(kFileIndexFile);
    if (EngineStopped()) return Loaded::kStopped;
    if (fetched == CheckedFetch::kNotFetched) {
        if (NotPublished(failure)) return Loaded::kAbsent;
        why = DescribeFetchFailure("the file index", url, kFileIndexFile, kMaxIndexBytes, failure);
        return Loaded::kBroken;
    }
    if (fetched == CheckedFetch::kDamaged) {
        why = "the file index was refused: " + why;
        return Loaded::kBroken;
    }
    if (!read) {
        why = "the file index could not be read back";
        return Loaded::kBroken;
    }
    if (!ParseFileIndex(text, index, why)) return Loaded::kBroken;
    return Loaded::kLoaded;
}

// Deletes the retired names that exist, below the installation only.
std::size_t RemoveRetired(const FileIndex& index) {
    std::size_t removed = 0;
    for (const std::string& name : index.removed) {
        const std::string path = ToLocalPath(name);
        std::uint64_t size = 0;
        std::int64_t modified = 0;
        if (path.empty() || !FileStamp(path, size, modified)) continue;
        if (RemoveFileBelowHere(path)) {
            ++removed;
            LogLine("removed " + name + " (retired)");
        }
    }
    return removed;
}

std::vector<IndexedFile> Pick(const FileIndex& index, const std::vector<std::size_t>& which) {
    std::vector<IndexedFile> files;
    for (std::size_t i : which) files.push_back(index.files[i]);
    return files;
}

// The run goes on with the patch loop; the cause is kept as the run's reason.
IndexUpdate NotUsedBecause(const std::string& why) {
    SetFailureReason(why);
    LogLine("file index not used: " + why);
    return IndexUpdate::kNotUsed;
}

}  // namespace

IndexUpdate UpdateThroughFileIndex() {
    const EngineEnvironment* env = CMyFun::m_pEnvironment;
    if (!env || !env->newContentHash) return IndexUpdate::kNotUsed;
    FileIndex index;
    std::string why;
    switch (LoadIndex(index, why)) {
        case Loaded::kAbsent:
            return IndexUpdate::kNotUsed;
        case Loaded::kStopped:
            return IndexUpdate::kStopped;
        case Loaded::kBroken:
            return NotUsedBecause(why);
        case Loaded::kLoaded:
            break;
    }
    const int latest = CMyFun::m_nLatestVersion;
    const int client = CMyFun::m_nClientVersion;
    if (index.latest != latest) {
        LogLine("file index not used: it describes patch " + std::to_string(index.latest) +
                ", the version list announces " + std::to_string(latest));
        return IndexUpdate::kNotUsed;
    }
    ShowPatchStatus(client, latest);

    // Only files last written by a package the client lacks, and of those
    // only the ones not already as the index says (a run cut short).
    std::vector<std::size_t> newer;
    for (std::size_t i = 0; i < index.files.size(); ++i)
        if (index.files[i].package >= client) newer.push_back(i);
    const std::vector<IndexedFile> needed =
        Pick(index, FindDamagedFiles(index.files, newer, env->newContentHash));
    std::uint64_t fetched = 0;
    switch (FetchAndApplyEntries(needed, fetched, why)) {
        case EntriesOutcome::kStopped:
            return IndexUpdate::kStopped;
        case EntriesOutcome::kFailed:
            return NotUsedBecause("file index: " + why);
        case EntriesOutcome::kApplied:
            break;
    }
    const std::size_t removed = RemoveRetired(index);
    if (removed > 0) SyncInstallation();

    // The record before the version file: a run killed between the two
    // would otherwise leave a current client with no record, and no quick
    // check, for good.
    if (!WriteInstallationState(index))
        LogLine("the record of the installation could not be written");
    CMyFun::m_nClientVersion = latest;
    if (!WriteClientVersionFile(latest)) {
        CMyFun::m_nClientVersion = client;
        FailRun(
            "the client version file could not be rewritten after the update by the file index");
        return IndexUpdate::kFailed;
    }
    const std::string summary =
        "updated from patch " + std::to_string(client) + " to " + std::to_string(latest) +
        " by the file index: " + std::to_string(needed.size()) + " files, removed " +
        std::to_string(removed) + ", fetched " + ByteCount(fetched);
    LogLine(summary);
    SetSummary(summary);
    return IndexUpdate::kUpToDate;
}

bool CheckInstallationAgainstIndex() {
    const EngineEnvironment* env = CMyFun::m_pEnvironment;
    if (!env) return true;
    const bool full = env->repair;
    if (!env->newContentHash) {
        if (!full) return true;
        // The client is as current as without the request: the run stands, the
        // repair alone is told as impossible (the console exits 1 for it).
        SetFailureReason("this launcher was built without SHA-256 and cannot repair the installation");
        return true;
    }
    InstallationState state;
    const bool recorded = ReadInstallationState(state);
    std::vector<std::string> changed;
    if (!full) {
        if (!recorded) return true;
        changed = ChangedSinceRecorded(state);
        if (changed.empty()) return true;
        LogLine(std::to_string(changed.size()) + " indexed files changed since they were recorded");
    }

    FileIndex index;
    std::string why;
    switch (LoadIndex(index, why)) {
        case Loaded::kStopped:
            return false;
        case Loaded::kAbsent:
            if (full) {
                SetFailureReason(
                    "no file index (FILES.IDX) is published: there is nothing to repair against");
                LogLine("repair: " + FailureReason());
                return true;
            }
            RemoveFile(kIndexStateFile);
            LogLine(
                "no file index is published any more; its record of the installation is dropped");
            return true;
        case Loaded::kBroken:
            if (full) {
                FailRun(why);
                return false;
            }
            LogLine("the installation was not checked: " + why);
            return true;
        case Loaded::kLoaded:
            break;
    }
    if (index.latest != CMyFun::m_nClientVersion) {
        why = "the file index describes patch " + std::to_string(index.latest) +
              ", the client is at patch " + std::to_string(CMyFun::m_nClientVersion.load());
        if (full) {
            FailRun(why);
            return false;
        }
        LogLine("the installation was not checked: " + why);
        return true;
    }

    std::vector<std::size_t> which;
    const std::set<std::string> suspect(changed.begin(), changed.end());
    for (std::size_t i = 0; i < index.files.size(); ++i) {
        const std::string& name = index.files[i].name;
        if (full || suspect.count(name) || !state.count(name)) which.push_back(i);
    }
    const std::vector<IndexedFile> damaged =
        Pick(index, FindDamagedFiles(index.files, which, env->newContentHash));
    for (const IndexedFile& file : damaged) LogLine("damaged or missing: " + file.name);
    std::uint64_t fetched = 0;
    switch (FetchAndApplyEntries(damaged, fetched, why)) {
        case EntriesOutcome::kStopped:
            return false;
        case EntriesOutcome::kFailed:
            FailRun("the installation could not be repaired: " + why);
            return false;
        case EntriesOutcome::kApplied:
            break;
    }
    const std::size_t removed = RemoveRetired(index);
    if (removed > 0) SyncInstallation();
    if (!WriteInstallationState(index))
        LogLine("the record of the installation could not be written");
    const std::string summary =
        "checked " + std::to_string(which.size()) + ", repaired " + std::to_string(damaged.size()) +
        ", removed " + std::to_string(removed) + ", fetched " + std::to_string(fetched) + " bytes";
    LogLine("repair: " + summary);
    SetSummary(summary);
    return true;
}

std::string IndexSummary() {
    std::lock_guard lock(g_summaryMutex);
    return g_summary;
}

}  // namespace launcher

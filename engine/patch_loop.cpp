// The patch loop: one package per patch number, each downloaded, unpacked,
// deleted and recorded before the next.
#include "engine/patch_loop.h"

#include <cstdio>

#include "engine/fetch.h"
#include "engine/file_index_run.h"
#include "engine/globals.h"
#include "engine/my_fun.h"
#include "engine/run_log.h"
#include "engine/signed_updates.h"
#include "engine/version_records.h"
#include "platform/files.h"
#include "transfer/apply_patch_package.h"
#include "transfer/download_file.h"

namespace launcher {

namespace {

constexpr unsigned kPhasePauseMs = 1000;

std::string PackageName(int number) { return FiveDigits(number) + ".DAT"; }

void ShowFinishedLook() {
    OwnerSend(kIdProgressTotal, kPbmSetPos, 100, 0);
    OwnerShow(kIdStartIdle, kSwHide);
    OwnerShow(kIdStart, kSwShowNormal);
    ShowPatchStatus(CMyFun::m_nClientVersion, CMyFun::m_nLatestVersion);
    OwnerShow(kIdStaticUpdating, kSwHide);
    OwnerShow(kIdStaticDone, kSwShowNormal);
}

}  // namespace

void ShowPatchStatus(int client, int latest) {
    OwnerShow(kIdStaticVersion, kSwHide);
    OwnerSetText(kIdStaticVersion, PatchStatusText(client, latest));
    OwnerShow(kIdStaticVersion, kSwShowNormal);
}

std::string PatchStatusText(int client, int latest) {
    char text[128];
    std::snprintf(text, sizeof text, "当前版本: %d /最新版本： %d", client, latest);
    return text;
}

int UpdatePatches() {
    CMyFun::m_nPhase = 0;
    CMyFun::m_nError = kErrorNone;
    // With a published file index the changed files come in one go, without
    // the pauses between packages; without one, or when it cannot be used,
    // the loop below runs as it always has.
    switch (UpdateThroughFileIndex()) {
        case IndexUpdate::kUpToDate:
            ShowFinishedLook();
            CMyFun::m_nPhase = 4;
            g_nLaunchBlock = 0;
            CMyFun::m_nPhase = 5;
            return 0;
        case IndexUpdate::kFailed: CMyFun::m_nError = kErrorApply; return 0;
        case IndexUpdate::kStopped: return 0;
        case IndexUpdate::kNotUsed: break;
    }
    EngineSleep(kPhasePauseMs);
    for (;;) {
        CMyFun::m_nPhase = 1;
        EngineSleep(kPhasePauseMs);
        if (!DownloadPatch()) {
            // A package refused by its hash already counts as damaged.
            if (CMyFun::m_nError == kErrorNone) CMyFun::m_nError = kErrorDownload;
            return 0;
        }
        CMyFun::m_nPhase = 2;
        EngineSleep(kPhasePauseMs);
        if (!ApplyPatch()) {
            CMyFun::m_nError = kErrorApply;
            return 0;
        }
        CMyFun::m_nPhase = 3;
        EngineSleep(kPhasePauseMs);
        if (CMyFun::m_nClientVersion == CMyFun::m_nLatestVersion) break;
    }
    CMyFun::m_nPhase = 4;
    EngineSleep(kPhasePauseMs);
    g_nLaunchBlock = 0;
    CMyFun::m_nPhase = 5;
    return 0;
}

int DownloadPatch() {
    const EngineEnvironment* env = RunEnvironment();
    if (!env) return 0;
    const int client = CMyFun::m_nClientVersion;
    const std::string name = PackageName(client);
    const std::string url = env->deployment.downloadHost + kPatchPath + name;
    ShowPatchStatus(client, CMyFun::m_nLatestVersion);
    DownloadFailure failure;
    std::string why;
    const CheckedFetch fetched = FetchListedFile(url, name, failure, why);
    if (fetched == CheckedFetch::kFetched) return 1;
    if (EngineStopped()) return 0;
    if (fetched == CheckedFetch::kDamaged) {
        CMyFun::m_nError = kErrorApply;
        FailRun("patch package " + name + " is damaged: " + why);
        return 0;
    }
    ShowUpdateFailedNote();
    FailRun(DescribeFetchFailure("patch package " + name, url, name, 0, failure));
    return 0;
}

int ApplyPatch() {
    const std::string name = PackageName(CMyFun::m_nClientVersion);
    File package;
    if (!package.Open(name, File::Mode::kRead)) {
        FailRun("patch package " + name + " could not be opened: " + package.Problem());
        return 0;
    }
    std::string problem;
    const ApplyResult result = ApplyPatchPackageWithResult(package, &problem);
    if (result != ApplyResult::kApplied) {
        package.Close();
        if (result == ApplyResult::kDamagedPackage) {
            // Its bytes are at fault: fetch it again next time instead of failing
            // on the same file at every start.
            RemoveFile(name);
            FailRun("patch package " + name + " is damaged (" + problem +
                    "); it was deleted and will be fetched again");
        } else {
            FailRun("patch package " + name + " could not be applied (" + problem +
                    "); it is kept for the next start");
        }
        return 0;
    }
    if (!package.Close()) {
        FailRun("patch package " + name + " could not be closed");
        return 0;
    }
    // What the package wrote must be on disk before its number is recorded.
    if (!SyncInstallation()) {
        FailRun("the files of patch package " + name + " could not be made durable");
        return 0;
    }
    RemoveFile(name);
    LogLine("applied " + name);

    const int latest = CMyFun::m_nLatestVersion;
    const int start = CMyFun::m_nStartVersion;
    const int step = TotalBarStep(latest, start);
    const int client = ++CMyFun::m_nClientVersion;
    OwnerSend(kIdProgressTotal, kPbmSetPos, static_cast<std::uint32_t>(step * (client - start)), 0);

    if (!WriteClientVersionFile(client)) {
        FailRun("the client version file could not be rewritten after " + name);
        return 0;
    }
    // The finished look only once the new number is on disk.
    if (client == latest) ShowFinishedLook();
    return 1;
}

}  // namespace launcher

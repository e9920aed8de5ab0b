#include "engine/signed_updates.h"

#include "engine/deployment.h"
#include "engine/fetch.h"
#include "engine/my_fun.h"
#include "engine/update_verifier.h"
#include "platform/files.h"

namespace launcher {

namespace {

constexpr const char* kManifestName = "SERVERVER.SIG";
// A manifest lists a few hundred files at most.
constexpr std::uint64_t kMaxManifestBytes = 1024 * 1024;

IUpdateVerifier* Verifier() {
    const EngineEnvironment* env = CMyFun::m_pEnvironment;
    return env ? env->verifier.get() : nullptr;
}

}  // namespace

bool AcceptSignedManifest(const std::string& launcherVersion, int latest) {
    IUpdateVerifier* verifier = Verifier();
    if (!verifier) return true;
    const std::string url =
        CMyFun::m_pEnvironment->deployment.versionHost + kVersionPath + kManifestName;
    RemoveFile(kManifestName);
    std::string text;
    DownloadFailure failure;
    const bool fetched = FetchWithRetries(url, kManifestName, kMaxManifestBytes, &failure) &&
                         ReadWholeFile(kManifestName, text);
    RemoveFile(kManifestName);
    if (EngineStopped()) return false;
    std::string why;
    if (!fetched) {
        why = DescribeFetchFailure("the signed manifest", url, kManifestName, kMaxManifestBytes,
                                   failure);
    } else if (verifier->Accept(text, launcherVersion, latest, why)) {
        return true;
    }
    FailRun("update refused: " + why);
    ShowUpdateFailedNote();
    return false;
}

CheckedFetch FetchListedFile(const std::string& url, const std::string& localPath,
                             DownloadFailure& failure, std::string& why,
                             std::uint64_t maxBodyBytes, bool quiet) {
    IUpdateVerifier* verifier = Verifier();
    if (!verifier)
        return FetchWithRetries(url, localPath, maxBodyBytes, &failure, nullptr, quiet)
                   ? CheckedFetch::kFetched
                   : CheckedFetch::kNotFetched;
    std::unique_ptr<IFileCheck> check = verifier->CheckFor(localPath);
    if (!check) {
        why = localPath + " is not listed in the signed manifest";
        return CheckedFetch::kDamaged;
    }
    bool continued = FileSize(localPath) > 0;
    for (;;) {
        if (!FetchWithRetries(url, localPath, maxBodyBytes, &failure, check.get(), quiet))
            return CheckedFetch::kNotFetched;
        if (check->Matches()) return CheckedFetch::kFetched;
        RemoveFile(localPath);
        if (!continued) break;
        // The kept part came from an older or different file: once from byte 0.
        continued = false;
    }
    why = localPath + " does not match the signed manifest (size or SHA-256); it was deleted";
    return CheckedFetch::kDamaged;
}

bool HandOverManifest() {
    IUpdateVerifier* verifier = Verifier();
    if (!verifier) return true;
    const std::string text = verifier->AcceptedText();
    return ReplaceFileAtomically(kReplacementManifest, text.data(), text.size());
}

}  // namespace launcher

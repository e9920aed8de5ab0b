#include "engine/fetch.h"

#include <algorithm>

#include "engine/deployment.h"
#include "engine/my_fun.h"
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

int FetchWithRetries(const std::string& url, const std::string& localPath,
                     std::uint64_t maxBodyBytes, IFileCheck* check) {
    GatedOwner owner;
    DownloadContext context;
    context.owner = &owner;
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
        if (context.http.pinnedPublicKey.empty())
            context.http.pinnedPublicKey = BuiltInPinnedPublicKey();
        context.stop = env->stop;
    }
    if (maxBodyBytes) context.http.maxBodyBytes = maxBodyBytes;
    context.check = check;

    for (int attempt = 0; attempt < kDownloadAttempts; ++attempt) {
        if (EngineStopped()) return 0;
        if (DownloadFile(url, localPath, context) == 1) return 1;
    }
    return 0;
}

}  // namespace launcher

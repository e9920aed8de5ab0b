// The engine's state machine: one step per call, driven by the worker.
#include "engine/my_fun.h"
#include "engine/run_log.h"

#include <mutex>

#include "engine/file_index_run.h"
#include "engine/globals.h"
#include "engine/patch_loop.h"
#include "engine/version_records.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/stop_flag.h"

namespace launcher {

std::atomic<IEngineOwner*> CMyFun::m_pOwner{nullptr};
std::atomic<int> CMyFun::m_nState{0};
std::atomic<int> CMyFun::m_nStep{0};
std::atomic<int> CMyFun::m_nPhase{0};
std::atomic<int> CMyFun::m_nError{0};
std::atomic<int> CMyFun::m_nClientVersion{0};
std::atomic<int> CMyFun::m_nStartVersion{0};
std::atomic<int> CMyFun::m_nLatestVersion{0};
EngineEnvironment* CMyFun::m_pEnvironment = nullptr;

namespace {

std::mutex g_failureMutex;
std::string g_failureReason;

int VersionCheckStep() {
    switch (CMyFun::m_nStep) {
        case 0:
            CMyFun::m_nStep = 1;
            return 1;
        case 1: {
            std::string why;
            if (GetClientVersion(&why)) {
                CMyFun::m_nStep = 2;
                return 1;
            }
            FailRun("the client version file PRESENTVERSION.DAT can neither be read nor "
                    "created: " + why);
            EngineMessageBox("[Error::GetClientVersion()]");
            return 0;
        }
        case 2:
            // GetServerVersion reports its own failures.
            if (!GetServerVersion()) return 0;
            CMyFun::m_nStep = 3;
            return 1;
        case 3: {
            const int client = CMyFun::m_nClientVersion;
            const int latest = CMyFun::m_nLatestVersion;
            if (client > latest) {
                FailRun("the client's patch number " + std::to_string(client) +
                        " is above the latest one the server announces (" +
                        std::to_string(latest) + ")");
                return 0;
            }
            CMyFun::m_nStep = 0;
            if (client < latest) {
                CMyFun::m_nState = kStatePatching;
            } else {
                CMyFun::m_nState = kStateFinished;
                g_nLaunchBlock = 0;
            }
            return 1;
        }
        default:
            return 1;
    }
}

int PatchingStep() {
    switch (CMyFun::m_nStep) {
        case 0:
            CMyFun::m_nStep = 1;
            return 1;
        case 1:
            UpdatePatches();
            CMyFun::m_nStep = 2;
            return 1;
        case 2:
            if (CMyFun::m_nError == kErrorDownload) {
                EngineMessageBox("[更新失败]");
                return 0;
            }
            if (CMyFun::m_nError == kErrorApply) {
                EngineMessageBox("[补丁解压失败]");
                return 0;
            }
            if (CMyFun::m_nPhase == 5) CMyFun::m_nState = kStateFinished;
            return 1;
        default:
            return 1;
    }
}

int FinishedStep() {
    CMyFun::m_nStep = 0;
    // Files found damaged since the last check are mended first; nothing is
    // done or shown where no file index has been used.
    if (!CheckInstallationAgainstIndex()) {
        if (!EngineStopped()) ShowUpdateFailedNote();
        return 0;
    }
    OwnerShow(kIdStartIdle, kSwHide);
    OwnerShow(kIdStart, kSwShowNormal);
    OwnerShow(kIdStaticDone, kSwShowNormal);
    OwnerShow(kIdStaticUpdating, kSwHide);
    return 0;
}

}  // namespace

int CMyFun::Process(IEngineOwner* owner) {
    m_pOwner = owner;
    if (!RunEnvironment()) return 0;
    // A closed window ends the run: nothing more is done or shown.
    if (EngineStopped()) return 0;
    switch (m_nState) {
        case kStateStartupCount:
            if (++m_nStep == 90) {
                m_nState = kStateVersionCheck;
                m_nStep = 0;
            }
            return 1;
        case kStateVersionCheck: return VersionCheckStep();
        case kStatePatching: return PatchingStep();
        case kStateFinished: return FinishedStep();
        default: return 0;
    }
}

void CMyFun::ResetForNewRun() {
    m_pOwner = nullptr;
    m_nState = 0;
    m_nStep = 0;
    m_nPhase = 0;
    m_nError = 0;
    m_nClientVersion = 0;
    m_nStartVersion = 0;
    m_nLatestVersion = 0;
    g_nLaunchBlock = 1;
    g_fSelfUpdate = 0.0f;
    SetFailureReason("");
}

unsigned UpdateThreadProc(IEngineOwner* owner) {
    while (!EngineStopped() && CMyFun::Process(owner)) {
    }
    return 0;
}

bool EngineStopped() {
    const EngineEnvironment* env = CMyFun::m_pEnvironment;
    return env && env->stop && env->stop->IsStopped();
}

void OwnerShow(int controlId, int showCommand) {
    IEngineOwner* owner = CMyFun::m_pOwner;
    if (owner && !EngineStopped()) owner->ShowControl(controlId, showCommand);
}

void OwnerSetText(int controlId, const std::string& text) {
    IEngineOwner* owner = CMyFun::m_pOwner;
    if (owner && !EngineStopped()) owner->SetControlText(controlId, text);
}

void OwnerSend(int controlId, unsigned message, std::uint32_t wParam, std::uint32_t lParam) {
    IEngineOwner* owner = CMyFun::m_pOwner;
    if (owner && !EngineStopped()) owner->SendMessageTo(controlId, message, wParam, lParam);
}

const EngineEnvironment* RunEnvironment() {
    const EngineEnvironment* env = CMyFun::m_pEnvironment;
    if (!env) FailRun("the update engine was started without its environment");
    return env;
}

void ShowUpdateFailedNote() {
    OwnerShow(kIdStaticNote, kSwHide);
    OwnerSetText(kIdStaticNote, "更新失败");
    OwnerShow(kIdStaticNote, kSwShowNormal);
}

void EngineSleep(unsigned ms) {
    EngineEnvironment* env = CMyFun::m_pEnvironment;
    IClock& clock = env && env->clock ? *env->clock : SystemClock();
    clock.Sleep(ms, env ? env->stop.get() : nullptr);
}

void EngineMessageBox(const std::string& text) {
    EngineEnvironment* env = CMyFun::m_pEnvironment;
    if (env && env->messageBoxes && !EngineStopped()) env->messageBoxes->Show(kEngineCaption, text);
}

void ApplicationMessageBox(const std::string& text) {
    EngineEnvironment* env = CMyFun::m_pEnvironment;
    if (env && env->messageBoxes && !EngineStopped())
        env->messageBoxes->Show(env->applicationName, text);
}

void SetFailureReason(const std::string& reason) {
    std::lock_guard lock(g_failureMutex);
    g_failureReason = reason;
}

std::string FailureReason() {
    std::lock_guard lock(g_failureMutex);
    return g_failureReason;
}

void FailRun(const std::string& reason) {
    g_nLaunchBlock = 2;
    SetFailureReason(reason);
    LogLine("failed: " + reason);
}

}  // namespace launcher

// The update engine: its shared state and the step function the worker calls.
#pragma once

#include <atomic>

#include "engine/engine_environment.h"
#include "owner/engine_owner.h"

namespace launcher {

class CMyFun {
public:
    virtual ~CMyFun() = default;

    // Performs one step of the state machine; 1 to be called again, 0 when the
    // run is over.
    static int Process(IEngineOwner* owner);

    static std::atomic<IEngineOwner*> m_pOwner;
    static std::atomic<int> m_nState;
    static std::atomic<int> m_nStep;
    static std::atomic<int> m_nPhase;
    static std::atomic<int> m_nError;
    static std::atomic<int> m_nClientVersion;
    static std::atomic<int> m_nStartVersion;
    static std::atomic<int> m_nLatestVersion;

    // Deployment values and platform services of this run; set before the worker
    // starts.
    static EngineEnvironment* m_pEnvironment;

    // Puts the engine state, the gate and the self-update flag back to their
    // values at program start (one engine run per process; tests run many).
    static void ResetForNewRun();
};

// Engine states.
enum EngineState : int { kStateStartupCount = -1, kStateVersionCheck = 0, kStatePatching = 1,
                         kStateFinished = 2 };

// Outcome codes of the patch loop.
enum PatchError : int { kErrorNone = 0, kErrorDownload = 2, kErrorApply = 3 };

// The worker's procedure: calls Process until it returns 0 or a stop is
// requested. `owner` is the main dialog.
unsigned UpdateThreadProc(IEngineOwner* owner);

// Helpers the steps use to reach the owner; they do nothing once a stop has been
// requested, so a closed window is never touched.
void OwnerShow(int controlId, int showCommand);
void OwnerSetText(int controlId, const std::string& text);
void OwnerSend(int controlId, unsigned message, std::uint32_t wParam, std::uint32_t lParam);
// The run's environment; null after failing the run when there is none, so
// that an engine started without one ends cleanly instead of crashing.
const EngineEnvironment* RunEnvironment();
// Static 1015 reads "更新失败": hidden, given the text, shown again.
void ShowUpdateFailedNote();
bool EngineStopped();
void EngineSleep(unsigned ms);
void EngineMessageBox(const std::string& text);
void ApplicationMessageBox(const std::string& text);

// Why the last run ended without an up-to-date client, in words for the
// console front end (also where the window shows nothing). Empty otherwise.
void SetFailureReason(const std::string& reason);
std::string FailureReason();

// Ends the run as failed: the launch gate answers with the failed-update
// message from now on, and the reason is kept.
void FailRun(const std::string& reason);

}  // namespace launcher

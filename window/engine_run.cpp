#include "window/engine_run.h"

#include <algorithm>

#include "engine/deployment.h"
#include "engine/engine_environment.h"
#include "engine/launcher_version.h"
#include "engine/my_fun.h"
#include "engine/globals.h"
#include "engine/run_log.h"
#include "engine/startup.h"
#include "engine/update_verifier.h"
#include "transfer/content_hash.h"
#include "transfer/decompressor.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/single_instance.h"

namespace launcher::ui {

struct EngineRun::Shared {
    EngineEnvironment environment;
    std::shared_ptr<IMessageBoxes> messageBoxes;
    std::shared_ptr<IEngineOwner> owner;
    std::shared_ptr<SingleInstanceLock> instance;
};

EngineRun::EngineRun() : m_shared(std::make_shared<Shared>()) {}

EngineRun::~EngineRun() {
    JoinFor(WorkerThread::kDefaultJoin);
}

bool EngineRun::LockInstance(const std::string& name) {
    m_shared->instance = std::make_shared<SingleInstanceLock>(name);
    return m_shared->instance->Acquired();
}

std::string EngineRun::LockFailure() const {
    const auto& instance = m_shared->instance;
    if (!instance || instance->Acquired() || instance->HeldElsewhere()) return {};
    return instance->Failure();
}

void EngineRun::Prepare(EngineRunSettings settings) {
    m_shared->messageBoxes = std::move(settings.messageBoxes);
    EngineEnvironment& environment = m_shared->environment;
    environment.deployment = std::move(settings.deployment);
    environment.clock = &SystemClock();
    environment.messageBoxes = m_shared->messageBoxes.get();
    environment.stop = std::move(settings.stop);
    environment.applicationName = std::move(settings.applicationName);
    environment.verifier = BuiltInUpdateVerifier();
    environment.newContentHash = BuiltInContentHash();
    environment.repair = settings.repair;
    // What this build trusts holds for every request of the run: packages,
    // lists and the file index's range requests alike.
    environment.http.pinnedPublicKey = BuiltInPinnedPublicKey();
    environment.http.caCertificates = BuiltInCaCertificates();
    m_logPath = std::move(settings.logPath);
    if (const std::uint64_t cap = settings.maxBytesPerSecond) {
        environment.http.maxBytesPerSecond = cap;
        // A cap below the rate floor would end every request as too slow.
        environment.http.lowSpeedBytes =
            static_cast<unsigned>(std::min<std::uint64_t>(environment.http.lowSpeedBytes, cap / 2));
    }
    CMyFun::m_pEnvironment = &environment;

    LoadDecompressor();
    GetLauncherVersion();
}

std::string EngineRun::LogPath() const {
    const auto& log = m_shared->environment.log;
    return log && log->IsOpen() ? log->Path() : std::string();
}

bool EngineRun::Start(std::shared_ptr<IEngineOwner> owner) {
    EngineEnvironment& environment = m_shared->environment;
    if (!m_logPath.empty()) {
        auto log = std::make_shared<RunLog>();
        if (log->Open(m_logPath)) environment.log = std::move(log);
        LogLine("start: " + environment.applicationName + " " + g_strLauncherVersion +
                ", version host " + environment.deployment.versionHost + ", download host " +
                environment.deployment.downloadHost);
    }
    m_shared->owner = std::move(owner);
    auto shared = m_shared;
    return m_worker->Start([shared] { UpdateThreadProc(shared->owner.get()); });
}

bool EngineRun::StartRepair(std::shared_ptr<IEngineOwner> owner) {
    if (!m_worker->Started() || !m_worker->Finished() || m_leftRunning) return false;
    Join();  // logs the first run's end and takes the engine's pointers back
    m_endLogged = false;
    CMyFun::ResetForNewRun();
    if (g_pfnUncompress) CMyFun::m_nState = kStateStartupCount;
    EngineEnvironment& environment = m_shared->environment;
    environment.repair = true;
    CMyFun::m_pEnvironment = &environment;
    LogLine("start: a repair asked for in the window");
    m_shared->owner = std::move(owner);
    m_worker = std::make_unique<WorkerThread>();
    auto shared = m_shared;
    return m_worker->Start([shared] { UpdateThreadProc(shared->owner.get()); });
}

bool EngineRun::JoinFor(std::chrono::milliseconds limit) {
    if (m_leftRunning) return false;
    if (!m_worker->JoinFor(limit)) {
        m_leftRunning = true;
        return false;
    }
    Release();
    return true;
}

void EngineRun::Join() {
    m_worker->Join();
    Release();
}

void EngineRun::Release() {
    const auto& log = m_shared->environment.log;
    if (log && !m_endLogged) {
        m_endLogged = true;
        const std::string reason = FailureReason();
        log->Line("end: " + (g_nLaunchBlock == 0 ? std::string("the client is up to date")
                             : reason.empty()  ? std::string("the update did not finish")
                                               : "failed") +
                  " (patch " + std::to_string(CMyFun::m_nClientVersion.load()) + ")");
    }
    if (CMyFun::m_pEnvironment == &m_shared->environment) CMyFun::m_pEnvironment = nullptr;
    IEngineOwner* ours = m_shared->owner.get();
    if (ours) CMyFun::m_pOwner.compare_exchange_strong(ours, nullptr);
}

}  // namespace launcher::ui

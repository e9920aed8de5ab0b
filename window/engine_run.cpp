#include "window/engine_run.h"

#include "engine/engine_environment.h"
#include "engine/launcher_version.h"
#include "engine/my_fun.h"
#include "engine/startup.h"
#include "engine/update_verifier.h"
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
    CMyFun::m_pEnvironment = &environment;

    LoadDecompressor();
    GetLauncherVersion();
}

bool EngineRun::Start(std::shared_ptr<IEngineOwner> owner) {
    m_shared->owner = std::move(owner);
    auto shared = m_shared;
    return m_worker.Start([shared] { UpdateThreadProc(shared->owner.get()); });
}

bool EngineRun::JoinFor(std::chrono::milliseconds limit) {
    if (m_leftRunning) return false;
    if (!m_worker.JoinFor(limit)) {
        m_leftRunning = true;
        return false;
    }
    Release();
    return true;
}

void EngineRun::Join() {
    m_worker.Join();
    Release();
}

void EngineRun::Release() {
    if (CMyFun::m_pEnvironment == &m_shared->environment) CMyFun::m_pEnvironment = nullptr;
    IEngineOwner* ours = m_shared->owner.get();
    if (ours) CMyFun::m_pOwner.compare_exchange_strong(ours, nullptr);
}

}  // namespace launcher::ui

// One run of the update engine for a front end (either window, the console):
// the instance lock, the engine's surroundings (CMyFun::m_pEnvironment), the
// start-up every front end takes, the worker that runs UpdateThreadProc and its
// bounded end. What the worker uses is kept alive by the worker itself, so
// that it outlives the front end when the worker is slow to end.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/deployment.h"
#include "window/worker_thread.h"

namespace launcher {

class IEngineOwner;
class IMessageBoxes;
class StopFlag;

namespace ui {

struct EngineRunSettings {
    Deployment deployment;
    // Caption of the application's own notices: the program's name.
    std::string applicationName;
    std::shared_ptr<IMessageBoxes> messageBoxes;
    std::shared_ptr<StopFlag> stop;
    // Bandwidth cap in bytes per second; 0: none.
    std::uint64_t maxBytesPerSecond = 0;
    // Where the run's log is appended once the run starts; empty: no log.
    std::string logPath = "launcher.log";
    // Check every file against the server's file index once the client is
    // current, and mend what is missing or damaged.
    bool repair = false;
};

class EngineRun {
public:
    EngineRun();
    ~EngineRun();  // JoinFor(WorkerThread::kDefaultJoin)
    EngineRun(const EngineRun&) = delete;
    EngineRun& operator=(const EngineRun&) = delete;

    // One launcher per installation: two would share the temporary names. The
    // lock is held until this run and its worker have both ended. False when
    // another holder has it.
    bool LockInstance(const std::string& name);
    // After a refused LockInstance: empty when another launcher holds the lock,
    // otherwise why the lock could not be taken at all.
    std::string LockFailure() const;

    // The engine's surroundings, in place before anything may want to report;
    // then the decompressor and the launcher's own version.
    void Prepare(EngineRunSettings settings);

    // UpdateThreadProc(owner) on the worker; false when it could not be started.
    bool Start(std::shared_ptr<IEngineOwner> owner);
    // Once the worker has ended: the engine once more from the version check,
    // with every indexed file checked and mended (EngineRunSettings::repair),
    // on a new worker. The gate closes until that run ends. False while the
    // worker runs or when it could not be started.
    bool StartRepair(std::shared_ptr<IEngineOwner> owner);
    bool Started() const { return m_worker->Started(); }
    bool Finished() const { return m_worker->Finished(); }
    // The log the run writes to; empty when it has none (not started, or it
    // could not be opened).
    std::string LogPath() const;

    // Joins the worker when it ends within `limit`, leaves it running otherwise.
    // Once it is joined the engine keeps no pointer into this run. True when
    // joined (or never started).
    bool JoinFor(std::chrono::milliseconds limit);
    // Waits for the worker however long it takes (the console: an interrupt
    // stops it).
    void Join();

private:
    struct Shared;
    std::string m_logPath;
    bool m_endLogged = false;
    void Release();

    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<WorkerThread> m_worker = std::make_unique<WorkerThread>();
    bool m_leftRunning = false;  // detached: its pointers stay with the engine
};

}  // namespace ui
}  // namespace launcher

// Everything the engine uses besides the owner window: deployment values and
// platform services. Passed in as a value so that tests bring their own.
#pragma once

#include <memory>
#include <string>

#include "engine/deployment.h"
#include "platform/http.h"
#include "transfer/content_hash.h"

namespace launcher {

class IClock;
class IUpdateVerifier;
class IMessageBoxes;
class RunLog;
class StopFlag;

struct EngineEnvironment {
    Deployment deployment;
    IClock* clock = nullptr;
    IMessageBoxes* messageBoxes = nullptr;
    std::shared_ptr<StopFlag> stop;
    // The deadline bounds each attempt at the version list and the signed
    // manifest; packages and the replacement launcher keep the rate floor.
    HttpSettings http = {.deadlineMs = 60000};
    // Checks what the servers send against a signed manifest; null: unchecked.
    std::shared_ptr<IUpdateVerifier> verifier;
    // Caption of the application's own notices: the program's name.
    std::string applicationName = "Launcher";
    // The run's log; null: none.
    std::shared_ptr<RunLog> log;
    // SHA-256 for the file index; empty: a published index is not used.
    ContentHashMaker newContentHash;
    // Check every indexed file once the client is current, not only those
    // whose size or time changed: a repair.
    bool repair = false;
};

// Caption of the engine's message boxes.
inline constexpr const char* kEngineCaption = "Launcher[Corvatheon2]";

}  // namespace launcher

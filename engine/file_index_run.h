// The file index in an engine run: updates that fetch only the files that
// changed, the check of the installation at every start, and the repair.
// Without a published FILES.IDX nothing here touches the window or the files.
#pragma once

#include <string>

namespace launcher {

enum class IndexUpdate {
    kUpToDate,  // the client is at the latest patch, recorded
    kNotUsed,   // no usable index: the patch loop goes on as always
    kFailed,    // the run has failed (FailRun): nothing more is done
    kStopped,
};

// At the start of the patch loop, for a client below the latest patch.
IndexUpdate UpdateThroughFileIndex();

// Once the client is at the latest patch: with a record of an earlier index
// update, the files whose size or time changed since are checked and mended;
// with EngineEnvironment::repair every indexed file is. False when files are
// known damaged and could not be mended (the run has failed).
bool CheckInstallationAgainstIndex();

// "checked N, repaired N, removed N, fetched N bytes" of this run's check or
// update, for the console; empty when the index was not used.
std::string IndexSummary();

}  // namespace launcher

// The entries a file index points to, fetched with byte-range requests into
// one local package and applied by the package applier, each file checked
// against the index before it replaces the old one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/file_index.h"

namespace launcher {

// The local package the entries are gathered in; a part of it left by an
// interrupted run is continued.
inline constexpr const char* kGatheredPackage = "FILES.IDX.DAT";

enum class EntriesOutcome {
    kApplied,
    kFailed,   // `why` names the cause; nothing outside the installation touched
    kStopped,  // the run was stopped; what was fetched is kept
};

// `files` ordered by (package, offset), as in the index. `fetched` receives
// the bytes fetched from the server.
EntriesOutcome FetchAndApplyEntries(const std::vector<IndexedFile>& files, std::uint64_t& fetched,
                                    std::string& why);

}  // namespace launcher

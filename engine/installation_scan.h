// The installation against a file index: which indexed files are missing,
// of another size or another content, and the small record of sizes and
// modification times that lets a start find changed files without hashing.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "transfer/content_hash.h"
#include "transfer/file_index.h"

namespace launcher {

inline constexpr const char* kIndexStateFile = "FILES.STATE";

// Indices into `files` of those (among `which`) that are missing, of another
// size or another SHA-256. Hashed on every core, each file read once.
std::vector<std::size_t> FindDamagedFiles(const std::vector<IndexedFile>& files,
                                          const std::vector<std::size_t>& which,
                                          const ContentHashMaker& newHash);

// name -> (size, modification time) of the indexed files as they are now.
using InstallationState = std::map<std::string, std::pair<std::uint64_t, std::int64_t>>;

// Written atomically; false when it could not be.
bool WriteInstallationState(const FileIndex& index);
// False when there is no readable record.
bool ReadInstallationState(InstallationState& state);
// Names of the record whose file is gone or has another size or time.
std::vector<std::string> ChangedSinceRecorded(const InstallationState& state);

}  // namespace launcher

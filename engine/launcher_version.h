// The launcher's own version: a version block compiled into the program, read
// the way the launcher has always read it (every translation's FileVersion,
// joined in order).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace launcher {

struct VersionTranslation {
    std::uint16_t language;
    std::uint16_t codePage;
};

struct VersionBlock {
    std::vector<VersionTranslation> translations;
    // Values by sub-block name, for example "\StringFileInfo\080403a8\FileVersion".
    std::map<std::string, std::string> strings;

    bool QueryValue(const std::string& subBlock, std::string& value) const;
};

// The program's version block; null when the program carries none.
const VersionBlock* ProgramVersionBlock();

// Every translation's FileVersion joined in the translations' order.
std::string JoinFileVersions(const VersionBlock& block);

// Fills g_strLauncherVersion from `block` (the program's own by default); shows
// "None VerSion Supprot" when there is no block.
void GetLauncherVersion(const VersionBlock* block);
void GetLauncherVersion();

}  // namespace launcher

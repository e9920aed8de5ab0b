#include "engine/launcher_version.h"

#include <cstdio>

#include "engine/globals.h"
#include "engine/my_fun.h"

namespace launcher {

bool VersionBlock::QueryValue(const std::string& subBlock, std::string& value) const {
    auto it = strings.find(subBlock);
    if (it == strings.end()) return false;
    value = it->second;
    return true;
}

std::string JoinFileVersions(const VersionBlock& block) {
    std::string result;
    for (const auto& translation : block.translations) {
        char subBlock[64];
        std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\FileVersion",
                      translation.language, translation.codePage);
        std::string value;
        if (block.QueryValue(subBlock, value)) result += value;
    }
    return result;
}

void GetLauncherVersion(const VersionBlock* block) {
    if (!block) {
        ApplicationMessageBox("None VerSion Supprot");
        g_strLauncherVersion.clear();
        return;
    }
    g_strLauncherVersion = JoinFileVersions(*block);
}

void GetLauncherVersion() { GetLauncherVersion(ProgramVersionBlock()); }

}  // namespace launcher

// The program file's own version resource, as plain data: what the file's
// properties show on Windows. Programs elsewhere carry none.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace launcher {

struct ProgramVersionInfo {
    // (language, code page) of each translation, in the resource's order.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;
    // Values by sub-block name, for example "\StringFileInfo\080403a8\FileVersion".
    std::map<std::string, std::string> strings;
};

// The running program's resource; nullopt when it has none or it cannot be read.
std::optional<ProgramVersionInfo> ReadProgramVersionInfo();

}  // namespace launcher

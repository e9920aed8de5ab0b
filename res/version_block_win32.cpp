// The launcher's version block on Windows: the program's own VERSIONINFO
// resource (version.rc.in), so that the version compared with the server is
// the one the file's properties show.
#include <optional>
#include <utility>

#include "engine/launcher_version.h"
#include "platform/program_version_info.h"

namespace launcher {

const VersionBlock* ProgramVersionBlock() {
    static const std::optional<VersionBlock> block = []() -> std::optional<VersionBlock> {
        std::optional<ProgramVersionInfo> info = ReadProgramVersionInfo();
        if (!info) return std::nullopt;
        VersionBlock read;
        for (const auto& [language, codePage] : info->translations)
            read.translations.push_back({language, codePage});
        read.strings = std::move(info->strings);
        return read;
    }();
    return block ? &*block : nullptr;
}

}  // namespace launcher

// The launcher's version block: one translation, Chinese (PRC) with code page
// 936, as the program has always carried it. LAUNCHER_FILE_VERSION comes from
// the build (cache variable LAUNCHER_FILE_VERSION).
#include "engine/launcher_version.h"

#ifndef LAUNCHER_FILE_VERSION
#define LAUNCHER_FILE_VERSION "1.1.6.0"
#endif

namespace launcher {

const VersionBlock* ProgramVersionBlock() {
    static const VersionBlock block{
        {{0x0804, 0x03A8}},
        {
            {"\\StringFileInfo\\080403a8\\FileDescription", "更新器"},
            {"\\StringFileInfo\\080403a8\\FileVersion", LAUNCHER_FILE_VERSION},
            {"\\StringFileInfo\\080403a8\\ProductVersion", LAUNCHER_FILE_VERSION},
            {"\\StringFileInfo\\080403a8\\InternalName", "Launcher.exe"},
            {"\\StringFileInfo\\080403a8\\OriginalFilename", "Launcher.exe"},
            {"\\StringFileInfo\\080403a8\\ProductName", "Launcher"},
        }};
    return &block;
}

}  // namespace launcher

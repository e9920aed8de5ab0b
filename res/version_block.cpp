// The launcher's version block: one translation, Chinese (PRC) with code page
// 936, as the program has always carried it. LAUNCHER_FILE_VERSION comes from
// the build (cache variable LAUNCHER_FILE_VERSION).
#include "engine/launcher_version.h"
#include "res/version_strings.h"

#ifndef LAUNCHER_FILE_VERSION
#define LAUNCHER_FILE_VERSION "1.1.6.0"
#endif

#define LAUNCHER_STRING(name) "\\StringFileInfo\\" LAUNCHER_VERSION_TRANSLATION "\\" name

namespace launcher {

const VersionBlock* ProgramVersionBlock() {
    static const VersionBlock block{
        {{LAUNCHER_VERSION_LANGUAGE, LAUNCHER_VERSION_CODE_PAGE}},
        {
            {LAUNCHER_STRING("FileDescription"), LAUNCHER_FILE_DESCRIPTION},
            {LAUNCHER_STRING("FileVersion"), LAUNCHER_FILE_VERSION},
            {LAUNCHER_STRING("ProductVersion"), LAUNCHER_FILE_VERSION},
            {LAUNCHER_STRING("InternalName"), LAUNCHER_INTERNAL_NAME},
            {LAUNCHER_STRING("OriginalFilename"), LAUNCHER_INTERNAL_NAME},
            {LAUNCHER_STRING("ProductName"), LAUNCHER_PRODUCT_NAME},
        }};
    return &block;
}

}  // namespace launcher

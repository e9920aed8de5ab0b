/* The strings of the launcher's version block, shared by the compiled-in block
 * (version_block.cpp) and the Windows resource (version.rc.in). One
 * translation: Chinese (PRC), code page 936. FileVersion comes from the build
 * (cache variable LAUNCHER_FILE_VERSION). */
#pragma once

#define LAUNCHER_VERSION_LANGUAGE 0x0804
#define LAUNCHER_VERSION_CODE_PAGE 0x03A8
#define LAUNCHER_VERSION_TRANSLATION "080403a8"
#define LAUNCHER_FILE_DESCRIPTION "更新器"
#define LAUNCHER_INTERNAL_NAME "Launcher.exe"
#define LAUNCHER_PRODUCT_NAME "Launcher"

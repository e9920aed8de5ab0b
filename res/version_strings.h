/* The strings of the version blocks, shared by the compiled-in block
 * (version_block.cpp) and the Windows resources (version.rc.in). One
 * translation: Chinese (PRC), code page 936, the resource's language the
 * same. FileVersion comes from the build (cache variable
 * LAUNCHER_FILE_VERSION); on Windows each program names itself. */
#pragma once

#define LAUNCHER_VERSION_PRIMARY_LANGUAGE 0x04 /* LANG_CHINESE */
#define LAUNCHER_VERSION_SUBLANGUAGE 0x02      /* SUBLANG_CHINESE_SIMPLIFIED */
#define LAUNCHER_VERSION_LANGUAGE 0x0804
#define LAUNCHER_VERSION_CODE_PAGE 0x03A8
#define LAUNCHER_VERSION_TRANSLATION "080403a8"
#define LAUNCHER_FILE_DESCRIPTION "更新器"
#define LAUNCHER_INTERNAL_NAME "Launcher.exe"
#define LAUNCHER_PRODUCT_NAME "Launcher"

#ifndef RC_INVOKED
static_assert(LAUNCHER_VERSION_LANGUAGE ==
                  (LAUNCHER_VERSION_SUBLANGUAGE << 10 | LAUNCHER_VERSION_PRIMARY_LANGUAGE),
              "the resource language and the translation's language disagree");
#endif

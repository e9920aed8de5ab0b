// Launcher.exe: the game's start program, a native Win32 window.
#include <cstdio>
#include <cstring>

#include "engine/launcher_version.h"
#include "win32/brevane_app.h"

int main(int argc, char** argv) {
    // The updater asks a replacement for its version before swapping it in;
    // the answer goes to the handle it gave us, no window opens.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        const launcher::VersionBlock* block = launcher::ProgramVersionBlock();
        std::printf("Launcher %s\n", block ? launcher::JoinFileVersions(*block).c_str() : "");
        std::fflush(stdout);
        return 0;
    }
    launcher::win::CBrevaneApp app;
    app.InitInstance();
    return app.ExitInstance();
}

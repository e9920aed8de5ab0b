// Launcher: the game's start program.
#include <cstdio>
#include <cstring>

#include "engine/launcher_version.h"
#include "qt/app/brevane_app.h"

int main(int argc, char** argv) {
    // The updater asks a replacement for its version before swapping it in:
    // answer without a window (there may be no display).
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        const launcher::VersionBlock* block = launcher::ProgramVersionBlock();
        std::printf("Launcher %s\n", block ? launcher::JoinFileVersions(*block).c_str() : "");
        return 0;
    }
    launcher::CBrevaneApp::PrepareProcess();
    launcher::CBrevaneApp app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}

// Launcher: the game's start program.
#include "app/brevane_app.h"

int main(int argc, char** argv) {
    launcher::CBrevaneApp::PrepareProcess();
    launcher::CBrevaneApp app(argc, argv);
    app.InitInstance();
    return app.ExitInstance();
}

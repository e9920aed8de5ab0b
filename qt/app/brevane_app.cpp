#include "qt/app/brevane_app.h"

#include <cstdlib>
#include <ctime>

#include "engine/game_command_line.h"
#include "engine/globals.h"
#include "platform/process.h"
#include "qt/dialogs/back_dialog.h"
#include "qt/dialogs/explorer.h"
#include "qt/dialogs/resources.h"
#include "window/worker_thread.h"

namespace launcher {

void CBrevaneApp::PrepareProcess() {
    ui::CExplorer1::PrepareProcess();
}

CBrevaneApp::CBrevaneApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The name of message-box captions is the program file's name, which is
    // what Qt takes by default; the window, not the last closed box, ends us.
    setQuitOnLastWindowClosed(false);
}

CBrevaneApp::~CBrevaneApp() = default;

bool CBrevaneApp::InitInstance() {
    ui::InitLauncherResources();

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const int r = std::rand();
    {
        CBackDialog dialog(ChooseBackground(r));
        dialog.exec();
    }  // the main dialog goes with it; its worker was told to stop

    if (g_fSelfUpdate == 2.0f) StartProgram(kUpdaterProgram, {});
    return false;
}

int CBrevaneApp::ExitInstance() {
    // A worker that did not end in time must not see the statics destroyed.
    if (ui::WorkerThread::DetachedRunning() > 0) std::quick_exit(0);
    return 0;
}

}  // namespace launcher

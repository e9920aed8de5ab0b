#include "win32/brevane_app.h"

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <cstdlib>
#include <ctime>

#include "engine/game_command_line.h"
#include "engine/globals.h"
#include "platform/process.h"
#include "win32/fore_dialog.h"
#include "window/worker_thread.h"

namespace launcher::win {

bool CBrevaneApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    // The picture decoder (WIC) is a COM service, the news pane's browser an
    // OLE control.
    m_bComStarted = SUCCEEDED(::OleInitialize(nullptr));

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    const int r = std::rand();
    {
        CBackDialog dialog(static_cast<UINT>(ChooseBackground(r)));
        dialog.DoModal();
    }  // the main dialog goes with it; its worker was told to stop

    if (g_fSelfUpdate == 2.0f) StartProgram(kUpdaterProgram, {});
    return false;
}

int CBrevaneApp::ExitInstance() {
    if (m_bComStarted) ::OleUninitialize();
    // A worker that did not end in time (in a network read or an engine
    // message box) must not see the program's statics destroyed.
    if (ui::WorkerThread::DetachedRunning() > 0) ::ExitProcess(0);
    return 0;
}

}  // namespace launcher::win

// The console: UTF-8 output and Ctrl-C / Ctrl-Break / closing the window as a
// stop request.
#include "platform/terminal.h"

#include <windows.h>

#include <cstdlib>
#include <utility>

namespace launcher {

namespace {

// Our texts are UTF-8: the console shows them as such while we run, and gets
// its own code page back when we end.
struct Utf8Console {
    UINT previous = ::GetConsoleOutputCP();
    Utf8Console() {
        if (previous != 0) ::SetConsoleOutputCP(CP_UTF8);
    }
    ~Utf8Console() {
        if (previous != 0) ::SetConsoleOutputCP(previous);
    }
};
const Utf8Console utf8Console;

std::function<void()> interruptHandler;
volatile LONG interruptRequests = 0;

// Runs on a thread of its own, started by the system.
BOOL WINAPI OnControl(DWORD) {
    if (::InterlockedIncrement(&interruptRequests) == 1) {
        interruptHandler();
        return TRUE;
    }
    // A second request means: stop now.
    ::ExitProcess(130);
}

}  // namespace

bool StderrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void OnInterruptRequest(std::function<void()> handler) {
    interruptHandler = std::move(handler);
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

}  // namespace launcher

// The console: UTF-8 output and Ctrl-C / Ctrl-Break / closing the window as a
// stop request.
#include "platform/terminal.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/win32/wide_text.h"

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

// A console without a window is one made for a program started with
// CREATE_NO_WINDOW; a file or a pipe is read by whoever redirected to it.
bool NobodyReadsStderr() {
    HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return true;
    DWORD mode = 0;
    return ::GetConsoleMode(error, &mode) && ::GetConsoleWindow() == nullptr;
}

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

void TellPlayer(const std::string& program, const std::string& message) {
    if (!NobodyReadsStderr()) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), message.c_str());
        return;
    }
    ::MessageBoxW(nullptr, win32::Wide(message).c_str(), win32::Wide(program).c_str(),
                  MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void OnInterruptRequest(std::function<void()> handler) {
    interruptHandler = std::move(handler);
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

}  // namespace launcher

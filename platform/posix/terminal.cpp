#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "platform/terminal.h"

namespace launcher {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void TellPlayer(const std::string& program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), message.c_str());
}

void OnInterruptRequest(std::function<void()> handler) {
    // Block the signals in every thread and take them synchronously on one.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, handler = std::move(handler)]() mutable {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) return;
        handler();
        // A second request means: stop now.
        if (sigwait(&set, &signal) == 0) ::_exit(130);
    }).detach();
}

}  // namespace launcher

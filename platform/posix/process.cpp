// Starting the game and the updater: fork and exec without waiting. A
// double fork leaves no zombie behind in the launcher. Between fork and exec
// only async-signal-safe calls are made: the launcher has other threads.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

#include "platform/files.h"

namespace launcher {

namespace {

constexpr std::size_t kMaxCapturedOutput = 64 * 1024;

std::string ResolveProgram(const std::string& name) {
    std::string path = name.find('/') == std::string::npos ? "./" + name : name;
    if (::access(path.c_str(), X_OK) == 0) return path;
    const std::string exe = ".exe";
    if (path.size() > exe.size() && path.compare(path.size() - exe.size(), exe.size(), exe) == 0) {
        std::string bare = path.substr(0, path.size() - exe.size());
        if (::access(bare.c_str(), X_OK) == 0) return bare;
    }
    return {};
}

// Taken before fork: the bound of the fallback loop below.
unsigned DescriptorLimit() {
    const long limit = ::sysconf(_SC_OPEN_MAX);
    return limit > 0 && limit < INT_MAX ? static_cast<unsigned>(limit) : 65536U;
}

void CloseRange(unsigned first, unsigned last, unsigned limit) {
    if (first > last) return;
    if (::close_range(first, last, 0) == 0) return;
    // Kernels before 5.9 have no close_range.
    for (unsigned fd = first; fd <= last && fd < limit; ++fd) ::close(static_cast<int>(fd));
}

// In the child: the web engine's sockets, the lock and whatever else the
// launcher holds must not live on in the started program. `keep` (or -1)
// stays open; it is close-on-exec itself.
void CloseInheritedDescriptors(int keep, unsigned limit) {
    if (keep < 3) {
        CloseRange(3, ~0U, limit);
        return;
    }
    CloseRange(3, static_cast<unsigned>(keep) - 1, limit);
    CloseRange(static_cast<unsigned>(keep) + 1, ~0U, limit);
}

std::vector<char*> ArgumentVector(std::string& path, std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(path.data());
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

}  // namespace

bool StartProgram(const std::string& name, const std::vector<std::string>& arguments) {
    std::string path = ResolveProgram(name);
    if (path.empty()) return false;
    std::vector<std::string> args = arguments;
    std::vector<char*> argv = ArgumentVector(path, args);
    const unsigned limit = DescriptorLimit();

    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return false;
    pid_t child = ::fork();
    if (child < 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return false;
    }
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
        CloseInheritedDescriptors(ready[1], limit);
        ::execv(path.c_str(), argv.data());
        // exec failed: tell the launcher through the pipe.
        char failed = 1;
        (void)!::write(ready[1], &failed, 1);
        ::_exit(127);
    }
    ::close(ready[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    char failed = 0;
    bool execFailed = ::read(ready[0], &failed, 1) == 1;
    ::close(ready[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && !execFailed;
}

ProgramRun RunProgramCapturingOutput(const std::string& path,
                                     const std::vector<std::string>& arguments,
                                     unsigned timeoutMs) {
    using Clock = std::chrono::steady_clock;
    ProgramRun run;
    std::string program = path;
    std::vector<std::string> args = arguments;
    std::vector<char*> argv = ArgumentVector(program, args);
    const unsigned limit = DescriptorLimit();

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return run;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(out[0]);
        ::close(out[1]);
        return run;
    }
    if (child == 0) {
        // Its own process group, so that a time-out kills what it started too.
        ::setpgid(0, 0);
        const int nothing = ::open("/dev/null", O_RDWR);
        if (nothing >= 0) {
            ::dup2(nothing, STDIN_FILENO);
            ::dup2(nothing, STDERR_FILENO);
        }
        ::dup2(out[1], STDOUT_FILENO);
        CloseInheritedDescriptors(-1, limit);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::setpgid(child, child);  // either side may come first
    ::close(out[1]);
    run.started = true;

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto msLeft = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
            .count();
    };
    char buffer[4096];
    for (long long left = msLeft(); left > 0; left = msLeft()) {
        pollfd readable{out[0], POLLIN, 0};
        const int polled = ::poll(&readable, 1, static_cast<int>(left < INT_MAX ? left : INT_MAX));
        if (polled < 0 && errno != EINTR) break;
        if (polled <= 0) continue;
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) break;  // the end of its output
        const std::size_t room = kMaxCapturedOutput - run.output.size();
        run.output.append(buffer, std::min(room, static_cast<std::size_t>(got)));
    }

    int status = 0;
    bool reaped = false;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            reaped = true;
            break;
        }
        if (done < 0 && errno != EINTR) break;
        if (msLeft() <= 0) {
            ::kill(-child, SIGKILL);
            ::kill(child, SIGKILL);
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            run.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(out[0]);
    if (reaped && WIFEXITED(status)) {
        run.exited = true;
        run.exitStatus = WEXITSTATUS(status);
    }
    return run;
}

bool LooksLikeProgram(const std::string& path) {
    File file;
    char head[4] = {};
    if (!file.Open(path, File::Mode::kRead) || !file.ReadExact(head, sizeof head)) return false;
    const bool elf = head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
    const bool script = head[0] == '#' && head[1] == '!';
    return elf || script;
}

std::string CurrentProgramPath() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace launcher

// Starting the game and the updater: fork and exec without waiting. A
// double fork leaves no zombie behind in the launcher.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/files.h"
#include "platform/process.h"

namespace launcher {

namespace {

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

}  // namespace

bool StartProgram(const std::string& name, const std::vector<std::string>& arguments) {
    std::string path = ResolveProgram(name);
    if (path.empty()) return false;
    std::vector<char*> argv;
    argv.push_back(path.data());
    std::vector<std::string> args = arguments;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

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

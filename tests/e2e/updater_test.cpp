// UpDateLauncher's swap, and the self-update round trip with real programs: an
// old launcher downloads a newer one, the updater puts it in place, and the new
// one reports its version and goes on to patch. LauncherCli's own guards too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "cli/printable_text.h"
#include "platform/files.h"
#include "platform/single_instance.h"
#include "tests/support/fakes.h"
#include "tests/support/test_http_server.h"
#include "tools/updater/update_launcher.h"

namespace launcher::test {
namespace {

namespace fs = std::filesystem;

struct CommandResult {
    int status = -1;
    std::string output;
};

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        result.output.append(buffer.data(), n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Bin(const std::string& name) { return std::string(LAUNCHER_BIN_DIR) + "/" + name; }

void Install(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

UpdaterOptions Options() {
    UpdaterOptions options;
    options.target = "Launcher";
    options.waitSeconds = 1;
    options.startLauncher = false;
    options.versionTimeoutMs = 1000;
    // A lock of the test's own, so that a launcher running elsewhere on the
    // machine does not hold the tests up.
    options.lockName = "updater-test-" + std::to_string(::getpid());
    return options;
}

void NoSleep(unsigned) { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

std::string Script(const std::string& body) { return "#!/bin/sh\n" + body + "\n"; }

// A replacement that answers --version like a launcher and runs `body` otherwise.
std::string Replacement(const std::string& body) {
    return Script("[ \"$1\" = --version ] && exec echo 'Launcher 1.1.7.0'\n" + body);
}

class UpdaterTest : public TempDirTest {};

TEST_F(UpdaterTest, SelfUpdateRoundTrip) {
    Install(Bin("LauncherCli"), "Launcher");
    Install(Bin("libTarnwellCompress.so"), "libTarnwellCompress.so");
    ASSERT_EQ(RunCommand("./Launcher --version").output, "LauncherCli 1.1.6.0\n");

    TestHttpServer server;
    const std::string next = ReadFile(Bin("LauncherCliNext"));
    server.ServeFile("/corvatheon_version/corvatheon2_online/SERVERVER.INI",
                     "a-launcher=1.1.7.0\nb-patch=00002\n");
    server.ServeFile("/corvatheon_version/corvatheon2_online/Launcher.exe_", next);
    // Package 00001.DAT: one file, "hello.txt".
    std::string content = "hello from patch 1";
    uLongf size = compressBound(static_cast<uLong>(content.size()));
    std::string payload(size, '\0');
    compress2(reinterpret_cast<Bytef*>(payload.data()), &size,
              reinterpret_cast<const Bytef*>(content.data()), static_cast<uLong>(content.size()), 9);
    payload.resize(size);
    std::string package("\x01\x00\x00\x00\x0a\x00\x00\x00hello.txt\0", 18);
    auto put32 = [&](std::size_t v) {
        for (int i = 0; i < 4; ++i) package += static_cast<char>((v >> (8 * i)) & 0xff);
    };
    put32(content.size());
    put32(payload.size());
    package += payload;
    server.ServeFile("/corvatheon2_online/00001.DAT", package);
    const std::string hosts =
        " --version-host " + server.Origin() + " --download-host " + server.Origin();

    // The old launcher finds a newer one announced and downloads it.
    CommandResult first = RunCommand("./Launcher" + hosts);
    EXPECT_EQ(first.status, 3) << first.output;
    ASSERT_EQ(ReadFile("Launcher.exe_"), next);

    UpdaterResult swap = UpdateLauncher(Options(), NoSleep);
    ASSERT_TRUE(swap.ok) << swap.message;
    EXPECT_FALSE(Exists("Launcher.exe_"));
    EXPECT_EQ(RunCommand("./Launcher --version").output, "LauncherCli 1.1.7.0\n");

    // The new launcher is current and goes on to patch.
    CommandResult second = RunCommand("./Launcher" + hosts);
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_EQ(ReadFile("PRESENTVERSION.DAT"), "00002");
    EXPECT_EQ(ReadFile("hello.txt"), content);
}

TEST_F(UpdaterTest, StartsTheNewLauncherAfterTheSwap) {
    WriteFile("Launcher", Script("echo old > started.txt"));
    fs::permissions("Launcher", fs::perms::owner_all);
    // It lists its descriptors: 0-2 and ls's own directory (3), nothing of ours.
    WriteFile("Launcher.exe_", Replacement("exec ls /proc/self/fd > started.txt"));
    const int leaked = ::fcntl(STDERR_FILENO, F_DUPFD, 100);
    UpdaterOptions options = Options();
    options.startLauncher = true;
    UpdaterResult result = UpdateLauncher(options, NoSleep);
    ::close(leaked);
    ASSERT_TRUE(result.ok) << result.message;
    for (int i = 0; i < 100 && ReadFile("started.txt").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ReadFile("started.txt"), "0\n1\n2\n3\n");
    EXPECT_TRUE((fs::status("Launcher").permissions() & fs::perms::owner_exec) != fs::perms::none);
}

TEST_F(UpdaterTest, EveryFailureLeavesTheOldLauncherWorking) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* messagePart;
        bool replacementKept = true;
    };
    std::unique_ptr<SingleInstanceLock> running;
    const Case cases[] = {
        {"replacement missing", [] { RemoveFile("Launcher.exe_"); }, "no replacement", false},
        {"launcher never exits",
         [&] { running = std::make_unique<SingleInstanceLock>(Options().lockName); },
         "did not exit"},
        {"the lock cannot be taken",
         [] { fs::create_symlink("nowhere", "." + Options().lockName + ".lock"); },
         "cannot create the lock file"},
        {"target not writable", [] { fs::create_directory("Launcher.new"); }, "cannot write"},
        {"replacement is not a program", [] { WriteFile("Launcher.exe_", "<html>oops</html>"); },
         "not a program", false},
        {"replacement cut short",
         [] { WriteFile("Launcher.exe_", ReadFile(Bin("LauncherCliNext")).substr(0, 100000)); },
         "when asked for its version", false},
        {"replacement never answers", [] { WriteFile("Launcher.exe_", Script("sleep 30")); },
         "did not answer", false},
    };
    const std::string old = Script("echo old");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile("Launcher", old);
        fs::permissions("Launcher", fs::perms::owner_all);
        WriteFile("Launcher.exe_", Script("echo new"));
        c.arrange();
        UpdaterResult result = UpdateLauncher(Options(), NoSleep);
        running.reset();
        fs::remove("." + Options().lockName + ".lock");
        fs::remove_all("Launcher.new");
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.message.find(c.messagePart), std::string::npos) << result.message;
        EXPECT_EQ(ReadFile("Launcher"), old);
        EXPECT_EQ(RunCommand("./Launcher").output, "old\n");
        EXPECT_EQ(Exists("Launcher.exe_"), c.replacementKept);
        EXPECT_FALSE(Exists("Launcher.new"));
    }
}

TEST_F(UpdaterTest, RefusesAnAbsurdWait) {
    const std::string old = Script("echo old");
    for (const char* wait : {"-1", "3601", "1e9"}) {
        SCOPED_TRACE(wait);
        WriteFile("Launcher", old);
        fs::permissions("Launcher", fs::perms::owner_all);
        WriteFile("Launcher.exe_", Replacement("echo new"));
        CommandResult run =
            RunCommand(Bin("UpDateLauncher") + " --no-start --target Launcher --wait-seconds " + wait);
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_EQ(ReadFile("Launcher"), old);
    }
}

TEST_F(UpdaterTest, OneLauncherCliPerInstallationDirectory) {
    struct Row {
        const char* name;
        bool held;           // by this process, for the test's directory
        const char* before;  // of the LauncherCli command: a directory change, an environment
        const char* said;
    };
    const Row rows[] = {
        {"held here", true, "", "another launcher is running"},
        {"held, and the second launcher has another environment", true,
         "env XDG_RUNTIME_DIR=$PWD/runtime HOME=/nonexistent ", "another launcher is running"},
        {"held for another directory", true, "cd elsewhere && ", "update failed"},
        {"nothing held, no private directory", false,
         "env -u XDG_RUNTIME_DIR HOME=/nonexistent ", "update failed"},
        {"a link at the lock file", false, "ln -s nowhere .Brevane.lock && ",
         "cannot create the lock file .Brevane.lock: Too many levels of symbolic links"},
    };
    fs::create_directory("elsewhere");
    fs::create_directory("runtime");
    fs::permissions("runtime", fs::perms::owner_all);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(".Brevane.lock");
        std::unique_ptr<SingleInstanceLock> running;
        if (row.held) running = std::make_unique<SingleInstanceLock>(kLauncherLockName);
        ASSERT_TRUE(!running || running->Acquired());
        CommandResult run =
            RunCommand(row.before + Bin("LauncherCli") + " --version-host 127.0.0.1:1");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.output.find(row.said), std::string::npos) << run.output;
    }
}

TEST(PrintableTextTest, ControlBytesNeverReachTheTerminal) {
    const std::pair<std::string, std::string> rows[] = {
        {"1.1.7.0", "1.1.7.0"},
        {"\x1b]0;x\x07" "1.1\x7f\t\n", "?]0;x?1.1???"},
        {"\xc2\x9b" "2J \x9b" "2J", "?2J ?2J"},  // CSI as a UTF-8 C1 control and as a byte
        {"更新完成", "更新完成"},                      // 更 holds 0x9b, inside a character
    };
    for (const auto& [text, shown] : rows) EXPECT_EQ(PrintableText(text), shown) << text;
}

}  // namespace
}  // namespace launcher::test

#include "tools/updater/update_launcher.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/single_instance.h"

namespace launcher {

namespace {

constexpr unsigned kPollMs = 100;
constexpr std::size_t kCopyBufferBytes = 1 << 20;

std::string DefaultTarget() {
    return PathExists("Launcher.exe") ? "Launcher.exe" : "Launcher";
}

// Streams `from` into `to` through a fixed buffer: a replacement of any size
// costs the same little memory.
bool CopyContents(const std::string& from, File& to, std::string& why) {
    File source;
    if (!source.Open(from, File::Mode::kRead)) {
        why = "cannot read " + from + ": " + source.Problem();
        return false;
    }
    std::vector<char> buffer(kCopyBufferBytes);
    for (;;) {
        const long long got = source.ReadSome(buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            why = "cannot read " + from;
            return false;
        }
        if (!to.WriteAll(buffer.data(), static_cast<std::size_t>(got))) return false;
    }
}

// A version line: some text whose last word holds a digit ("Launcher 1.1.7.0").
bool AnswersWithVersion(const ProgramRun& run) {
    if (!run.exited || run.exitStatus != 0) return false;
    const std::string line = run.output.substr(0, run.output.find('\n'));
    const auto lastWord = line.find_last_of(' ');
    const std::string word = lastWord == std::string::npos ? line : line.substr(lastWord + 1);
    return word.find_first_of("0123456789") != std::string::npos;
}

std::string WhyNoVersion(const ProgramRun& run, unsigned timeoutMs) {
    if (!run.started) return "could not be run";
    if (run.timedOut) return "did not answer within " + std::to_string(timeoutMs) + " ms";
    if (!run.exited) return "crashed";
    if (run.exitStatus != 0) return "ended with status " + std::to_string(run.exitStatus);
    return "printed no version";
}

// Copies `from` to a temporary file beside `target`, with the target's
// permissions, asks that copy for its version and renames it over the target:
// the old program stays until the new one is complete, durable and answers.
// Returns false with `why`; `rejected` when the replacement itself is bad.
bool ReplaceProgram(const UpdaterOptions& options, const std::string& target, std::string& why,
                    bool& rejected) {
    const std::string& from = options.replacement;
    const std::string temporary = target + ".new";
    File file;
    if (!file.Open(temporary, File::Mode::kCreateFresh)) {
        why = "cannot write beside " + target + " (is the directory writable?)";
        return false;
    }
    why.clear();
    bool ok = CopyContents(from, file, why) && file.TakeModeOf(target) && file.Sync();
    ok = file.Close() && ok;
    if (!ok) {
        RemoveFile(temporary);
        if (why.empty()) why = "cannot put the new program in place of " + target;
        return false;
    }
    // The private copy is what gets checked, run and swapped in: the download
    // may change under us, the copy cannot.
    if (options.checkReplacement && !options.checkReplacement(temporary, why)) {
        RemoveFile(temporary);
        rejected = true;
        why = "refused: " + why;
        return false;
    }
    const std::string program =
        temporary.find('/') == std::string::npos ? "./" + temporary : temporary;
    const ProgramRun run =
        RunProgramCapturingOutput(program, {"--version"}, options.versionTimeoutMs);
    if (!AnswersWithVersion(run)) {
        RemoveFile(temporary);
        rejected = true;
        why = "the new launcher " + WhyNoVersion(run, options.versionTimeoutMs) +
              " when asked for its version";
        return false;
    }
    if (!RenameFile(temporary, target)) {
        RemoveFile(temporary);
        why = "cannot put the new program in place of " + target;
        return false;
    }
    SyncDirectory(".");
    return true;
}

}  // namespace

UpdaterResult UpdateLauncher(const UpdaterOptions& options,
                             const std::function<void(unsigned ms)>& sleep) {
    const std::string target = options.target.empty() ? DefaultTarget() : options.target;
    UpdaterResult result;

    // The launcher holds this lock while it runs; the kernel drops it when the
    // launcher's process ends.
    std::unique_ptr<SingleInstanceLock> lock;
    for (unsigned waited = 0;; waited += kPollMs) {
        lock = std::make_unique<SingleInstanceLock>(options.lockName);
        if (lock->Acquired()) break;
        if (!lock->HeldElsewhere()) {
            result.message = lock->Failure() + "; nothing was replaced";
            return result;
        }
        lock.reset();
        if (waited >= options.waitSeconds * 1000) {
            result.message = "the launcher did not exit within " +
                             std::to_string(options.waitSeconds) + " s; nothing was replaced";
            return result;
        }
        sleep(kPollMs);
    }

    if (!PathExists(options.replacement)) {
        result.message = "no replacement launcher (" + options.replacement + ") to install";
        return result;
    }
    if (!PathExists(target)) {
        result.message = "the launcher program " + target + " is missing; nothing was replaced";
        return result;
    }
    if (!LooksLikeProgram(options.replacement)) {
        result.message = options.replacement + " is not a program for this system; it was removed";
        RemoveFile(options.replacement);
        return result;
    }
    std::string why;
    bool rejected = false;
    if (!ReplaceProgram(options, target, why, rejected)) {
        // A replacement that cannot run would be fetched and refused at every
        // start otherwise: the next start fetches it afresh.
        if (rejected) RemoveFile(options.replacement);
        result.message = why + "; the old launcher is unchanged" +
                         (rejected ? " and " + options.replacement + " was removed" : "");
        return result;
    }
    RemoveFile(options.replacement);
    // Let the new launcher take the lock itself.
    lock.reset();
    if (options.startLauncher && !StartProgram(target, {})) {
        result.message = "the launcher was replaced but could not be started";
        return result;
    }
    result.ok = true;
    result.message =
        "the launcher was replaced" + std::string(options.startLauncher ? " and started" : "");
    return result;
}

}  // namespace launcher

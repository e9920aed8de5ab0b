#include "tools/updater/update_launcher.h"

#include <memory>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/single_instance.h"

namespace launcher {

namespace {

constexpr unsigned kPollMs = 100;

std::string DefaultTarget() {
    return PathExists("Launcher.exe") ? "Launcher.exe" : "Launcher";
}

// Copies `from` to a temporary file beside `target`, with the target's
// permissions, and renames it over the target: the old program stays until the
// new one is complete and durable.
bool ReplaceProgram(const std::string& from, const std::string& target, std::string& why) {
    std::string contents;
    if (!ReadWholeFile(from, contents)) {
        why = "cannot read " + from;
        return false;
    }
    const std::string temporary = target + ".new";
    File file;
    if (!file.Open(temporary, File::Mode::kCreateFresh)) {
        why = "cannot write beside " + target + " (is the directory writable?)";
        return false;
    }
    bool ok = file.WriteAll(contents.data(), contents.size()) && file.Sync();
    ok = file.Close() && ok;
    ok = ok && CopyFileMode(target, temporary);
    if (!ok || !RenameFile(temporary, target)) {
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
    if (options.checkReplacement && !options.checkReplacement(options.replacement, why)) {
        result.message = "refused: " + why +
                         "; the replacement was removed and the old "
                         "launcher is unchanged";
        RemoveFile(options.replacement);
        return result;
    }
    if (!ReplaceProgram(options.replacement, target, why)) {
        result.message = why + "; the old launcher is unchanged";
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
    result.message = "the launcher was replaced" +
                     std::string(options.startLauncher ? " and started" : "");
    return result;
}

}  // namespace launcher

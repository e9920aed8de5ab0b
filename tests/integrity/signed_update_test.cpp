// Signed updates against a real server on 127.0.0.1: releases signed with
// mkpatch, an engine run with the verifier of a build that carries the test's
// key, and the updater's last look before the swap. Every refused release
// leaves the installation's files exactly as they were.
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "engine/globals.h"
#include "engine/version_records.h"
#include "integrity/ed25519.h"
#include "integrity/signed_update_verifier.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/package_builder.h"
#include "tools/mkpatch/mkpatch.h"
#include "tools/updater/update_launcher.h"

namespace launcher::test {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// The updater runs only a program of this system: the demo's next launcher,
// which answers --version.
std::string NewLauncher() {
    std::ifstream in(LAUNCHER_BIN_DIR "/LauncherCliNext.exe", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
std::string PlantedLauncher() { return NewLauncher() + "planted"; }
#else
std::string NewLauncher() { return "#!/bin/sh\necho Launcher 1.1.7.0\n"; }
std::string PlantedLauncher() { return "#!/bin/sh\necho planted\n"; }
#endif

// What the operator signs and what the server then serves.
struct Release {
    std::string listLauncher = "1.1.6.0";  // the served version list
    int listLatest = 2;
    std::string signedLauncher = "1.1.6.0";  // the list the manifest was made for
    int signedLatest = 2;
    std::uint64_t serial = 100;
    int signedDaysAgo = 0;  // valid for 30 days from then
    bool otherKey = false;
    std::string package = BuildPackage({{"a.txt", "patched"}});
    std::string launcher = NewLauncher();
    std::function<void(std::string& manifest, std::string& package, std::string& launcher)> serve;
    bool swapBeforeUpdater = false;
    std::string keptPart;  // a part of 00001.DAT left by an earlier run
};

struct Row {
    const char* name;
    std::function<void(Release&)> change;
    const char* outcome;  // part of the failure reason, or of the updater's message
    const char* box;      // the engine's message box, "" for none
    bool changesInstallation;
};

using Snapshot = std::map<std::string, std::string>;

class SignedUpdateTest : public PackageEngineTest {
protected:
    Snapshot Installation() {
        Snapshot files;
        for (const auto& entry : fs::directory_iterator("."))
            if (entry.is_regular_file()) files[entry.path().filename().string()] = ReadFile(entry.path().string());
        return files;
    }

    // Signs `release` in a directory of its own and serves it.
    void Publish(Release& release, const std::string& secretKey) {
        const std::string dir = Dir() + "-release/";
        fs::create_directories(dir);
        WriteFile(dir + "SERVERVER.INI", VersionList(release.signedLauncher, release.signedLatest));
        for (int n = 1; n < release.signedLatest; ++n)
            WriteFile(dir + FiveDigits(n) + ".DAT", release.package);
        if (release.listLauncher != "1.1.6.0") WriteFile(dir + "Launcher.exe_", release.launcher);
        WriteFile(dir + "signing.key", secretKey);
        mkpatch::SignOptions sign{dir + "signing.key",
                                  dir + "SERVERVER.INI",
                                  dir,
                                  release.serial,
                                  30,
                                  mkpatch::NowSeconds() - release.signedDaysAgo * 86400};
        sign.force = true;  // the operator's mistakes too, for the client to refuse
        std::ostringstream out, err;
        ASSERT_EQ(mkpatch::Sign(sign, out, err), mkpatch::kOk) << err.str();
        std::string manifest = ReadFile(dir + "SERVERVER.SIG");
        fs::remove_all(dir);
        if (release.serve) release.serve(manifest, release.package, release.launcher);
        const std::string versionPath = "/corvatheon_version/corvatheon2_online/";
        ServeVersionList(VersionList(release.listLauncher, release.listLatest));
        server_.ServeFile(versionPath + "SERVERVER.SIG", manifest);
        if (manifest.empty()) server_.Remove(versionPath + "SERVERVER.SIG");
        server_.ServeFile(versionPath + "Launcher.exe_", release.launcher);
        server_.ServeFile("/corvatheon2_online/00001.DAT", release.package);
    }
};

TEST_F(SignedUpdateTest, OnlyWhatTheOperatorSignedIsInstalled) {
    std::string publicKey, secretKey, otherPublic, otherSecret;
    ASSERT_TRUE(integrity::GenerateKeyPair(publicKey, secretKey));
    ASSERT_TRUE(integrity::GenerateKeyPair(otherPublic, otherSecret));
    const auto flip = [](std::string& text, const std::string& from, const std::string& to) {
        text.replace(text.find(from), from.size(), to);
    };
    const Row rows[] = {
        {"good manifest", {}, "up to date", "", true},
        {"bad signature",
         [&](Release& r) {
             r.serve = [&](std::string& m, auto&, auto&) { flip(m, "serial 100", "serial 900"); };
         },
         "signature of the manifest does not verify", "", false},
        {"wrong key", [](Release& r) { r.otherKey = true; },
         "signature of the manifest does not verify", "", false},
        {"manifest missing",
         [](Release& r) { r.serve = [](std::string& m, auto&, auto&) { m.clear(); }; },
         "signed manifest could not be fetched", "", false},
        {"serial lower than stored", [](Release& r) { r.serial = 99; }, "older than serial 100", "",
         false},
        {"serial in milliseconds, not stored",
         [](Release& r) { r.serial = static_cast<std::uint64_t>(mkpatch::NowSeconds()) * 1000; },
         "more than a year ahead of this computer's clock", "", false},
        {"expired", [](Release& r) { r.signedDaysAgo = 31; }, "signed manifest expired", "", false},
#ifndef _WIN32
        {"a FIFO where the accepted serial is kept",
         [](Release& r) {
             r.serve = [](auto&, auto&, auto&) {
                 fs::remove(integrity::kSerialFile);
                 ::mkfifo(integrity::kSerialFile, 0600);
             };
         },
         "UPDATESERIAL.DAT: not a regular file (a FIFO)", "", false},
#endif
        {"latest differs from the list", [](Release& r) { r.signedLatest = 3; },
         "does not match the version list", "", false},
        {"launcher differs from the list", [](Release& r) { r.signedLauncher = "1.1.5.0"; },
         "does not match the version list", "", false},
        {"package with a wrong hash",
         [](Release& r) { r.serve = [](auto&, std::string& p, auto&) { p.back() ^= 1; }; },
         "00001.DAT does not match the signed manifest", "[补丁解压失败]", false},
        {"package longer than announced",
         [](Release& r) { r.serve = [](auto&, std::string& p, auto&) { p = "X" + p; }; },
         "00001.DAT does not match the signed manifest", "[补丁解压失败]", false},
        {"stale part kept from an earlier run, fetched again from byte 0",
         [](Release& r) { r.keptPart = "stale"; }, "up to date", "", true},
        {"package of several hashing buffers, a stale part kept",
         [](Release& r) {
             r.package += std::string(5 << 19, 'x');  // read by nobody, hashed all the same
             r.keptPart = "stale";
         },
         "up to date", "", true},
        {"replacement with a wrong hash",
         [](Release& r) {
             r.listLauncher = r.signedLauncher = "1.1.7.0";
             r.serve = [](auto&, auto&, std::string& l) { l[l.size() - 2] ^= 1; };
         },
         "replacement launcher was refused", "", false},
        {"replacement verified and swapped",
         [](Release& r) { r.listLauncher = r.signedLauncher = "1.1.7.0"; },
         "updater: the launcher was replaced", "", true},
        {"updater refuses a swapped file",
         [](Release& r) {
             r.listLauncher = r.signedLauncher = "1.1.7.0";
             r.swapBeforeUpdater = true;
         },
         "updater: refused: Launcher.exe_ is not the file the launcher verified", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CMyFun::ResetForNewRun();
        server_.ClearRequests();
        for (const auto& entry : fs::directory_iterator(".")) fs::remove_all(entry.path());
        WriteFile("PRESENTVERSION.DAT", "00001");
        WriteFile(integrity::kSerialFile, "100");
        WriteFile("Launcher", "#!/bin/sh\necho old launcher\n");
        fs::permissions("Launcher", fs::perms::owner_all);
        Release release;
        if (row.change) row.change(release);
        Publish(release, release.otherKey ? otherSecret : secretKey);
        environment_.verifier = std::make_shared<integrity::SignedUpdateVerifier>(
            std::vector<std::string>{otherPublic.substr(1) + "A", publicKey});
        if (!release.keptPart.empty()) WriteFile("00001.DAT", release.keptPart);
        const Snapshot before = Installation();
        const std::size_t boxesBefore = boxes_.Texts().size();

        RunToEnd();
        std::string outcome = g_nLaunchBlock == 0 ? "up to date" : FailureReason();
        if (g_fSelfUpdate == 2.0f) {
            if (release.swapBeforeUpdater) WriteFile("Launcher.exe_", PlantedLauncher());
            UpdaterOptions options;
            options.target = "Launcher";
            options.waitSeconds = 1;
            options.startLauncher = false;
            options.lockName = "signed-update-test-" + std::to_string(::getpid());
            options.checkReplacement = [&](const std::string& replacement, std::string& why) {
                return integrity::CheckReplacement(replacement, kReplacementManifest, {publicKey},
                                                   why);
            };
            outcome = "updater: " + UpdateLauncher(options, [](unsigned) {}).message;
            fs::remove("." + options.lockName + ".lock");
        }
        EXPECT_NE(outcome.find(row.outcome), std::string::npos) << outcome;
        const std::vector<std::string> texts = boxes_.Texts();
        EXPECT_EQ(
            std::vector<std::string>(texts.begin() + static_cast<long>(boxesBefore), texts.end()),
            row.box[0] ? std::vector<std::string>{row.box} : std::vector<std::string>{});
        EXPECT_EQ(Installation() != before, row.changesInstallation);
    }
}

// mkpatch sign refuses the serials that would lock clients out, and says when
// the signature expires.
TEST_F(TempDirTest, SignRefusesSerialsThatLockClientsOut) {
    std::string publicKey, secretKey;
    ASSERT_TRUE(integrity::GenerateKeyPair(publicKey, secretKey));
    WriteFile("release.key", secretKey);
    WriteFile("SERVERVER.INI", "a-launcher=1.1.6.0\nb-patch=00001\n");
    const std::string now = std::to_string(mkpatch::NowSeconds());
    struct Case {
        const char* what;
        std::uint64_t replacedSerial;  // 0: nothing replaced
        std::vector<std::string> options;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {"serial below the replaced one", 1796858431, {"--serial", "5"}, mkpatch::kFailed,
         "serial 5 is not above serial 1796858431 of the"},
        {"serial in milliseconds", 0, {"--serial", now + "000"}, mkpatch::kFailed,
         "days ahead of the time in seconds"},
        {"--force", 1796858431, {"--serial", "5", "--force"}, mkpatch::kOk,
         "Signed all the same (--force)"},
        {"the time in seconds over an older serial", 100, {}, mkpatch::kOk, "expires 20"},
        {"valid for 3 days", 100, {"--valid-days", "3"}, mkpatch::kOk, "in less than 7 days"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        fs::remove("SERVERVER.SIG");
        integrity::UpdateManifest replaced;
        replaced.serial = item.replacedSerial;
        replaced.launcherVersion = "1.1.6.0";
        replaced.latest = 1;
        const std::string old = integrity::FormatManifestBody(replaced) + "signature x\n";
        if (item.replacedSerial) WriteFile("SERVERVER.SIG", old);
        std::vector<std::string> args = {"sign", "--key", "release.key", "--packages", "."};
        args.insert(args.end(), item.options.begin(), item.options.end());
        args.push_back("./SERVERVER.INI");
        std::ostringstream out, err;
        EXPECT_EQ(mkpatch::Run(args, out, err), item.status);
        EXPECT_NE((out.str() + err.str()).find(item.says), std::string::npos)
            << out.str() << err.str();
        if (item.status != mkpatch::kOk && item.replacedSerial) {
            EXPECT_EQ(ReadFile("SERVERVER.SIG"), old);
        }
    }
    std::ostringstream out, err;
    EXPECT_EQ(mkpatch::Run({"checklist", "SERVERVER.INI"}, out, err), mkpatch::kFailed);
    EXPECT_NE(out.str().find("SERVERVER.SIG expires in less than 7 days"), std::string::npos)
        << out.str();
}

}  // namespace
}  // namespace launcher::test

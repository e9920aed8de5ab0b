// mkpatch keygen and sign: the operator's side of signed updates.
#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#include "engine/version_records.h"
#include "integrity/ed25519.h"
#include "integrity/sha256.h"
#include "integrity/signed_update_verifier.h"
#include "integrity/update_manifest.h"
#include "platform/files.h"
#include "tools/mkpatch/mkpatch.h"
#include "transfer/file_check.h"
#include "transfer/file_index.h"

#ifndef MKPATCH_BUILT_IN_KEYS
#define MKPATCH_BUILT_IN_KEYS ""
#endif

namespace launcher::mkpatch {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kDay = 86400;
// Clients refuse a release from its expiry on; under this an operator is warned.
constexpr std::int64_t kExpiryWarnedWithin = 7 * kDay;
// Clients refuse to store a serial further ahead of their clock than this.
constexpr std::int64_t kClientSerialHorizon = 365 * kDay;

std::string UtcText(std::int64_t seconds) {
    // Years 1970 to 9999; anything else (a hand-made manifest) as the number.
    if (seconds < 0 || seconds > 253402300799) {
        return std::to_string(seconds) + " seconds since 1970";
    }
    using namespace std::chrono;
    const sys_seconds time{std::chrono::seconds{seconds}};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d UTC",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

// "in 3 days 4 hours" or "3 days 4 hours ago".
std::string Span(std::int64_t from, std::int64_t to) {
    const std::int64_t span = to >= from ? to - from : from - to;
    const std::string text = std::to_string(span / kDay) + " days " +
                             std::to_string(span % kDay / 3600) + " hours";
    return to >= from ? "in " + text : text + " ago";
}

bool ReadText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return static_cast<bool>(in);
}

// Written beside `path` and renamed over it, so a reader never sees a part.
bool WriteAtomically(const std::string& path, const std::string& text, std::ostream& err) {
    if (ReplaceFileAtomically(path, text.data(), text.size())) return true;
    err << "mkpatch: " << path << ": cannot write: " << std::generic_category().message(errno)
        << "\n";
    return false;
}

// Adds the file at `path` to the manifest as `name`; false when it is missing.
bool AddFile(integrity::UpdateManifest& manifest, const fs::path& path, const std::string& name,
             std::ostream& err) {
    integrity::ManifestFile file;
    if (!integrity::Sha256OfFile(path.string(), file.sha256, file.size, true)) {
        err << "mkpatch: " << path.string() << ": cannot read\n";
        return false;
    }
    manifest.files[name] = file;
    return true;
}

// The file index beside a list, or the one named.
fs::path IndexPath(const std::string& listFile, const std::string& indexFile) {
    return indexFile.empty() ? fs::path(listFile).parent_path() / kFileIndexFile
                             : fs::path(indexFile);
}

// An index signed for a release must describe it: clients would otherwise
// take files of another patch for the ones they need.
bool IndexDescribes(const fs::path& path, int latest, std::ostream& err) {
    std::string text;
    std::string why;
    FileIndex index;
    if (!ReadText(path.string(), text) || !ParseFileIndex(text, index, why)) {
        err << "mkpatch: " << path.string() << " is not a readable file index"
            << (why.empty() ? "" : ": " + why) << "\n";
        return false;
    }
    if (index.latest != latest) {
        err << "mkpatch: " << path.string() << " describes patch " << index.latest
            << ", the list announces patch " << latest
            << ": make it again with 'mkpatch index', or remove it\n";
        return false;
    }
    return true;
}

// The serial of the signed manifest at `path`; false, with `why`, when it is
// not readable.
bool ReplacedSerial(const std::string& path, std::uint64_t& serial, std::string& why) {
    std::string text;
    std::string body;
    std::string signature;
    integrity::UpdateManifest manifest;
    if (!ReadText(path, text)) {
        why = "cannot read it";
        return false;
    }
    if (!integrity::ParseSignedManifest(text, body, signature, manifest, why)) return false;
    serial = manifest.serial;
    return true;
}

// A client stores the highest serial it accepted and refuses every lower one
// for ever after: a serial that does not grow, or one far ahead of the time
// (in milliseconds, say), locks the clients out of the releases that follow.
bool CheckSerial(SignOptions& options, const std::string& replaced, std::ostream& err) {
    bool ok = true;
    auto refuse = [&](const std::string& what) {
        if (options.force) {
            err << "mkpatch: warning: " << what << ". Signed all the same (--force)\n";
        } else {
            err << "mkpatch: " << what << ". --force signs it all the same\n";
            ok = false;
        }
    };
    std::error_code ec;
    std::uint64_t old = 0;
    std::string why;
    if (fs::exists(replaced, ec)) {
        if (!ReplacedSerial(replaced, old, why)) {
            err << "mkpatch: warning: " << replaced << " is not readable (" << why
                << "); the new serial is not compared with it\n";
        } else if (options.serial <= old && options.defaultSerial && old < options.serial + kDay) {
            // Signed again within the same second or so: the next serial will do.
            options.serial = old + 1;
        } else if (options.serial <= old) {
            refuse("serial " + std::to_string(options.serial) + " is not above serial " +
                   std::to_string(old) + " of the " + replaced +
                   " it replaces: clients that accepted that release refuse a lower serial as "
                   "a replayed old release. The default serial, the time in seconds, grows "
                   "from one signing to the next");
        }
    }
    const std::uint64_t now = options.now > 0 ? static_cast<std::uint64_t>(options.now) : 0;
    if (options.serial > now + kDay) {
        refuse("serial " + std::to_string(options.serial) + " lies " +
               std::to_string((options.serial - now) / kDay) +
               " days ahead of the time in seconds (" + std::to_string(now) +
               "): a client that accepts it refuses every later release with a lower serial "
               "(and clients refuse to store a serial more than a year ahead of their clock). "
               "Sign with the time in seconds, the default");
    }
    return ok;
}

}  // namespace

int KeyGen(const std::string& name, std::ostream& out, std::ostream& err) {
    const std::string secretPath = name + ".key";
    const std::string publicPath = name + ".pub";
    std::error_code ec;
    if (fs::exists(secretPath, ec) || fs::exists(publicPath, ec)) {
        err << "mkpatch: " << secretPath << " or " << publicPath
            << " exists; a key pair is never overwritten\n";
        return kFailed;
    }
    std::string publicKey;
    std::string secretKey;
    if (!integrity::GenerateKeyPair(publicKey, secretKey)) {
        err << "mkpatch: the cryptography library cannot be initialised\n";
        return kFailed;
    }
    {
        // Only the owner may read the secret key, from its first byte on: the
        // file is made so and written through the descriptor that made it.
        File secret;
        if (!secret.Open(secretPath, File::Mode::kCreateNewPrivate)) {
            err << "mkpatch: " << secretPath << ": cannot create: " << secret.Problem() << "\n";
            return kFailed;
        }
        const std::string line = secretKey + "\n";
        const bool written = secret.WriteAll(line.data(), line.size()) && secret.Sync();
        if (!secret.Close() || !written) {
            err << "mkpatch: " << secretPath << ": cannot write\n";
            RemoveFile(secretPath);
            return kFailed;
        }
    }
    if (!WriteAtomically(publicPath, publicKey + "\n", err)) return kFailed;
#ifdef _WIN32
    // Windows has no mode bits: the file takes the folder's access rights.
    const char* const kWhoReads = "readable as the folder allows";
#else
    const char* const kWhoReads = "mode 0600";
#endif
    out << secretPath << ": secret key (" << kWhoReads << "; keep it off the servers)\n"
        << publicPath << ": public key " << publicKey << "\n"
        << "build the launcher with -DLAUNCHER_UPDATE_PUBLIC_KEY=" << publicKey << "\n";
    return kOk;
}

int Sign(const SignOptions& options, std::ostream& out, std::ostream& err) {
    std::string secretKey;
    if (!ReadText(options.keyFile, secretKey)) {
        err << "mkpatch: " << options.keyFile << ": cannot read the secret key\n";
        return kFailed;
    }
    std::string list;
    if (!ReadText(options.listFile, list)) {
        err << "mkpatch: " << options.listFile << ": cannot read\n";
        return kFailed;
    }
    // The list read exactly as the launcher reads it.
    const ServerListEntries entries = ParseServerVersionList(list);
    if (entries.count == 0) {
        err << "mkpatch: " << options.listFile << " holds no entry\n";
        return kFailed;
    }
    integrity::UpdateManifest manifest;
    manifest.expires = options.now + static_cast<std::int64_t>(options.validDays) * 86400;
    manifest.latest = AtoiLike(LastBytes(entries.second, 5));
    manifest.launcherVersion = LastBytes(entries.first, 7);
    if (manifest.latest < 1 || manifest.launcherVersion.find_first_of(" \t") != std::string::npos) {
        err << "mkpatch: " << options.listFile << " does not read as a launcher version and a "
            << "latest patch number; check it with 'mkpatch checklist'\n";
        return kFailed;
    }
    const fs::path listDirectory = fs::path(options.listFile).parent_path();
    const std::string replaced = (listDirectory / integrity::kManifestFile).string();
    const std::string output = options.manifestFile.empty() ? replaced : options.manifestFile;
    SignOptions checked = options;
    if (!CheckSerial(checked, replaced, err)) return kFailed;
    manifest.serial = checked.serial;
    // A client at patch 1 fetches packages 1 .. latest-1.
    for (int n = 1; n < manifest.latest; ++n) {
        const std::string name = FiveDigits(n) + ".DAT";
        if (!AddFile(manifest, fs::path(options.packageDirectory) / name, name, err))
            return kFailed;
    }
    std::error_code ec;
    if (fs::exists(listDirectory / kReplacementLauncher, ec) &&
        !AddFile(manifest, listDirectory / kReplacementLauncher, kReplacementLauncher, err))
        return kFailed;
    const fs::path index = IndexPath(options.listFile, options.indexFile);
    if (fs::exists(index, ec) && (!IndexDescribes(index, manifest.latest, err) ||
                                  !AddFile(manifest, index, kFileIndexFile, err)))
        return kFailed;

    const std::string body = integrity::FormatManifestBody(manifest);
    const std::string signature = integrity::SignMessage(body, secretKey);
    if (signature.empty()) {
        err << "mkpatch: " << options.keyFile << " is not a secret key made by 'mkpatch keygen'\n";
        return kFailed;
    }
    if (!WriteAtomically(output, body + "signature " + signature + "\n", err)) return kFailed;
    out << output << ": serial " << manifest.serial << ", launcher " << manifest.launcherVersion
        << ", latest patch " << manifest.latest << ", " << manifest.files.size() << " files, valid "
        << options.validDays << " days, key " << integrity::PublicKeyOf(secretKey) << "\n"
        << output << ": expires " << UtcText(manifest.expires) << "\n";
    if (manifest.expires - options.now < kExpiryWarnedWithin) {
        err << "mkpatch: warning: the signature expires " << Span(options.now, manifest.expires)
            << ", in less than 7 days: from then on clients refuse the release; sign it "
               "again before\n";
    }
    return kOk;
}

int CheckSignedManifest(const std::string& listFile, const std::string& launcherVersion,
                        int latest, std::int64_t now, std::ostream& out) {
    const std::string path =
        (fs::path(listFile).parent_path() / integrity::kManifestFile).string();
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        out << "note: no " << path << ": launchers built with a public key refuse the release\n";
        return 0;
    }
    std::string text;
    std::string body;
    std::string signature;
    std::string why;
    integrity::UpdateManifest manifest;
    if (!ReadText(path, text) ||
        !integrity::ParseSignedManifest(text, body, signature, manifest, why)) {
        out << "warning: " << path << " is not readable" << (why.empty() ? "" : ": " + why)
            << "; launchers built with a public key refuse the release\n";
        return 1;
    }
    int warnings = 0;
    auto warn = [&](const std::string& what) {
        out << "warning: " << path << " " << what << "\n";
        ++warnings;
    };
    out << path << ": serial " << manifest.serial << ", launcher " << manifest.launcherVersion
        << ", latest patch " << manifest.latest << ", expires " << UtcText(manifest.expires)
        << " (" << Span(now, manifest.expires) << ")\n";
    if (manifest.expires <= now) {
        warn("has expired: clients refuse the release; sign it again");
    } else if (manifest.expires - now < kExpiryWarnedWithin) {
        warn("expires in less than 7 days: from then on clients refuse the release; sign it "
             "again before");
    }
    if (manifest.launcherVersion != launcherVersion || manifest.latest != latest) {
        warn("was signed for another list: clients refuse the release; sign again after "
             "writing the list");
    }
    if (now >= 0 && manifest.serial > static_cast<std::uint64_t>(now + kClientSerialHorizon)) {
        warn("has a serial more than a year ahead of the time in seconds: clients refuse the "
             "release");
    }
    return warnings;
}

int CheckSignedRelease(const std::string& listFile, const std::string& manifestFile,
                       const std::string& packageDirectory, const std::string& keyFile,
                       std::ostream& out, std::ostream& err, const std::string& indexFile) {
    std::string list;
    std::string manifest;
    std::string secretKey;
    if (!ReadText(listFile, list) || !ReadText(manifestFile, manifest) ||
        !ReadText(keyFile, secretKey)) {
        err << "mkpatch: cannot read " << listFile << ", " << manifestFile << " or " << keyFile
            << "\n";
        return kFailed;
    }
    const std::string publicKey = integrity::PublicKeyOf(secretKey);
    const std::vector<std::string> builtIn = integrity::SplitKeyList(MKPATCH_BUILT_IN_KEYS);
    if (!builtIn.empty() && std::find(builtIn.begin(), builtIn.end(), publicKey) == builtIn.end()) {
        err << "mkpatch: warning: the launcher of this build carries "
            << MKPATCH_BUILT_IN_KEYS << ", not key " << publicKey
            << "; it would refuse this release\n";
    }
    const ServerListEntries entries = ParseServerVersionList(list);
    const std::string launcherVersion = LastBytes(entries.first, 7);
    const int latest = AtoiLike(LastBytes(entries.second, 5));
    // A scratch serial file: the operator's directory keeps no client state.
    const fs::path serialFile =
        fs::temp_directory_path() / ("mkpatch-serial-" + std::to_string(std::random_device{}()));
    integrity::SignedUpdateVerifier verifier({publicKey}, {}, serialFile.string());
    std::string why;
    const bool accepted = verifier.Accept(manifest, launcherVersion, latest, why);
    std::error_code ec;
    fs::remove(serialFile, ec);
    if (!accepted) {
        err << "mkpatch: a launcher built with key " << publicKey << " would refuse the release: "
            << why << "\n";
        return kFailed;
    }
    std::vector<std::pair<std::string, fs::path>> files;
    for (int n = 1; n < latest; ++n) {
        const std::string name = FiveDigits(n) + ".DAT";
        files.emplace_back(name, fs::path(packageDirectory) / name);
    }
    const fs::path replacement = fs::path(listFile).parent_path() / kReplacementLauncher;
    if (fs::exists(replacement, ec)) files.emplace_back(kReplacementLauncher, replacement);
    const fs::path index = IndexPath(listFile, indexFile);
    if (fs::exists(index, ec)) files.emplace_back(kFileIndexFile, index);
    for (const auto& [name, path] : files) {
        std::unique_ptr<IFileCheck> check = verifier.CheckFor(name);
        if (!check) {
            err << "mkpatch: " << manifestFile << " does not list " << name << "\n";
            return kFailed;
        }
        check->Begin();
        if (!FeedFilePrefix(path.string(), check->Size(), *check) || !check->Matches()) {
            err << "mkpatch: " << path.string() << " does not match " << manifestFile << "\n";
            return kFailed;
        }
    }
    out << "checked as a launcher built with key " << publicKey << " checks it: signature, "
        << "list, serial, expiry and " << files.size() << " files\n";
    return kOk;
}

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace launcher::mkpatch

// mkpatch keygen and sign: the operator's side of signed updates.
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <system_error>

#include "engine/version_records.h"
#include "integrity/ed25519.h"
#include "integrity/sha256.h"
#include "integrity/update_manifest.h"
#include "platform/files.h"
#include "tools/mkpatch/mkpatch.h"

namespace launcher::mkpatch {

namespace fs = std::filesystem;

namespace {

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

// Adds `name` from `directory` to the manifest; false when it is missing.
bool AddFile(integrity::UpdateManifest& manifest, const fs::path& directory,
             const std::string& name, std::ostream& err) {
    integrity::ManifestFile file;
    if (!integrity::Sha256OfFile((directory / name).string(), file.sha256, file.size, true)) {
        err << "mkpatch: " << (directory / name).string() << ": cannot read\n";
        return false;
    }
    manifest.files[name] = file;
    return true;
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
    manifest.serial = options.serial;
    manifest.expires = options.now + static_cast<std::int64_t>(options.validDays) * 86400;
    manifest.latest = AtoiLike(LastBytes(entries.second, 5));
    manifest.launcherVersion = LastBytes(entries.first, 7);
    if (manifest.latest < 1 || manifest.launcherVersion.find_first_of(" \t") != std::string::npos) {
        err << "mkpatch: " << options.listFile << " does not read as a launcher version and a "
            << "latest patch number; check it with 'mkpatch checklist'\n";
        return kFailed;
    }
    // A client at patch 1 fetches packages 1 .. latest-1.
    for (int n = 1; n < manifest.latest; ++n) {
        if (!AddFile(manifest, options.packageDirectory, FiveDigits(n) + ".DAT", err))
            return kFailed;
    }
    const fs::path listDirectory = fs::path(options.listFile).parent_path();
    std::error_code ec;
    if (fs::exists(listDirectory / kReplacementLauncher, ec) &&
        !AddFile(manifest, listDirectory, kReplacementLauncher, err))
        return kFailed;

    const std::string body = integrity::FormatManifestBody(manifest);
    const std::string signature = integrity::SignMessage(body, secretKey);
    if (signature.empty()) {
        err << "mkpatch: " << options.keyFile << " is not a secret key made by 'mkpatch keygen'\n";
        return kFailed;
    }
    const std::string output = (listDirectory / integrity::kManifestFile).string();
    if (!WriteAtomically(output, body + "signature " + signature + "\n", err)) return kFailed;
    out << output << ": serial " << manifest.serial << ", launcher " << manifest.launcherVersion
        << ", latest patch " << manifest.latest << ", " << manifest.files.size() << " files, valid "
        << options.validDays << " days, key " << integrity::PublicKeyOf(secretKey) << "\n";
    return kOk;
}

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace launcher::mkpatch

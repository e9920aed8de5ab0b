// mkpatch release: one command per release. It reads what the servers' root
// announces now, packs the next package (the whole tree for the first
// release), writes the version list and the signed manifest beside the live
// ones, checks them as the launcher reads them, and only then renames them
// into place: until that moment clients see the release before.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "engine/deployment.h"
#include "engine/version_records.h"
#include "platform/code_page.h"
#include "tools/mkpatch/mkpatch.h"
#include "transfer/file_index.h"
#include "transfer/package_format.h"

#ifndef MKPATCH_LAUNCHER_VERSION
#define MKPATCH_LAUNCHER_VERSION ""
#endif
#ifndef MKPATCH_BUILT_IN_KEYS
#define MKPATCH_BUILT_IN_KEYS ""
#endif

namespace launcher::mkpatch {

namespace fs = std::filesystem;

namespace {

constexpr const char* kManifestName = "SERVERVER.SIG";
constexpr const char* kStaged = ".next";
constexpr int kHighestPatch = 99999;

// A path of the hosts ("/a/b/") below the servers' root.
fs::path Under(const std::string& root, std::string urlPath) {
    urlPath.erase(0, urlPath.find_first_not_of('/'));
    while (!urlPath.empty() && urlPath.back() == '/') urlPath.pop_back();
    return fs::path(root) / urlPath;
}

bool ReadText(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return static_cast<bool>(in);
}

bool WriteText(const fs::path& path, const std::string& text, std::ostream& err) {
    const fs::path temporary = path.string() + ".part";
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    std::error_code ec;
    if (file) fs::rename(temporary, path, ec);
    if (!file || ec) {
        err << "mkpatch: " << path.string() << ": cannot write\n";
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

// Reads the entries of a package: the last size of every name.
bool EntrySizes(const fs::path& package, std::vector<std::pair<std::string, std::uint32_t>>& sizes,
                std::int32_t& count, std::ostream& err) {
    File file;
    count = 0;
    const bool opened = file.Open(package.string(), File::Mode::kRead);
    PackageReader reader(file);  // takes the size of the open file
    if (!opened || reader.ReadHeader(count) != ReadStatus::kOk) {
        err << "mkpatch: " << package.string() << ": cannot read it as a package\n";
        return false;
    }
    PackageEntry entry;
    for (std::int32_t i = 0; i < count; ++i) {
        if (reader.ReadEntry(entry) != ReadStatus::kOk ||
            reader.SkipPayload(entry.compressedSize) != ReadStatus::kOk) {
            err << "mkpatch: " << package.string() << ": " << reader.Problem() << "\n";
            return false;
        }
        sizes.emplace_back(entry.name, entry.uncompressedSize);
    }
    return true;
}

// Whether `previous` is the tree the announced packages lead to, as far as the
// last of them tells: every file it carries is there with its size. Catches
// the tree of an older release given by mistake, which would make a package
// that leaves clients with a mix of releases.
bool LooksLikeLastRelease(const fs::path& lastPackage, const std::string& previous, Names names,
                          std::ostream& err) {
    std::vector<std::pair<std::string, std::uint32_t>> sizes;
    std::int32_t count = 0;
    if (!EntrySizes(lastPackage, sizes, count, err)) return false;
    int wrong = 0;
    for (const auto& [stored, size] : sizes) {
        std::string name = stored;
        if (names == Names::kGbk && !GbkToUtf8(stored, name)) continue;
        std::replace(name.begin(), name.end(), kPackageSeparator, '/');
        const fs::path path = fs::path(previous) / fs::path(std::u8string(name.begin(), name.end()));
        std::error_code ec;
        const std::uintmax_t actual = fs::file_size(path, ec);
        if (!ec && actual == size) continue;
        if (wrong++ == 0) {
            err << "mkpatch: " << previous << " is not the tree the announced packages lead to:\n";
        }
        if (wrong <= 5) {
            err << "  " << lastPackage.filename().string() << " carries " << name << " of "
                << size << " bytes; " << path.string()
                << (ec ? " is missing" : " has " + std::to_string(actual) + " bytes") << "\n";
        }
    }
    if (wrong > 0) err << "  Give --previous the tree of the release announced now.\n";
    return wrong == 0;
}

}  // namespace

int Release(const ReleaseOptions& options, std::ostream& out, std::ostream& err) {
    const fs::path listDirectory = Under(options.out, kVersionPath);
    const fs::path packageDirectory = Under(options.out, kPatchPath);
    const fs::path listFile = listDirectory / kServerVersionList;
    const fs::path manifestFile = listDirectory / kManifestName;
    auto fail = [&](const std::string& why) {
        err << "mkpatch: " << why << "\n";
        return kFailed;
    };

    // What the servers announce now. A fresh client is at patch 1, so the
    // first package (00001.DAT) carries the whole tree and announces patch 2.
    std::error_code ec;
    int announced = 1;
    std::string announcedLauncher;
    if (fs::exists(listFile, ec)) {
        std::string text;
        if (!ReadText(listFile, text)) return fail(listFile.string() + ": cannot read");
        const ServerListEntries entries = ParseServerVersionList(text);
        announced = AtoiLike(LastBytes(entries.second, 5));
        announcedLauncher = LastBytes(entries.first, 7);
        if (entries.count == 0 || announced < 1) {
            return fail(listFile.string() + " does not read as a version list; check it with "
                        "'mkpatch checklist'");
        }
    }
    const bool first = announced == 1;
    if (first && !options.previous.empty()) {
        return fail("nothing is announced in " + options.out +
                    " yet: the first release packs the whole tree of --next, without --previous");
    }
    if (!first && options.previous.empty()) {
        return fail(listFile.string() + " announces patch " + std::to_string(announced) +
                    ": the next release needs --previous, the tree of that release");
    }
    if (announced >= kHighestPatch) return fail("patch 99999 is the last the list can announce");
    for (int n = 1; n < announced; ++n) {
        if (!fs::exists(packageDirectory / (FiveDigits(n) + ".DAT"), ec)) {
            return fail((packageDirectory / (FiveDigits(n) + ".DAT")).string() +
                        " is missing, but the list announces it");
        }
    }
    // A lone 00001.DAT is what a first release that did not finish leaves.
    if (first && fs::exists(packageDirectory / "00002.DAT", ec)) {
        return fail(packageDirectory.string() + " holds packages that " + listFile.string() +
                    " does not announce: restore the list, or start in an empty folder");
    }
    if (!first && !LooksLikeLastRelease(packageDirectory / (FiveDigits(announced - 1) + ".DAT"),
                                        options.previous, options.names, err)) {
        return kFailed;
    }
    std::string launcherVersion = options.launcherVersion;
    if (launcherVersion.empty()) launcherVersion = announcedLauncher;
    if (launcherVersion.empty()) launcherVersion = MKPATCH_LAUNCHER_VERSION;
    if (launcherVersion.empty()) return fail("the first release needs --launcher VERSION");
    if (!announcedLauncher.empty() && launcherVersion != announcedLauncher &&
        !fs::exists(listDirectory / kReplacementLauncher, ec)) {
        return fail("announcing launcher " + launcherVersion + " makes every launcher of " +
                    announcedLauncher + " download " +
                    (listDirectory / kReplacementLauncher).string() +
                    ": put the new launcher there first");
    }
    if (options.keyFile.empty() && std::string(MKPATCH_BUILT_IN_KEYS).size() > 0) {
        err << "mkpatch: warning: the launcher of this build checks signatures and refuses an "
               "unsigned release; give --key\n";
    }
    if (options.keyFile.empty() && fs::exists(manifestFile, ec)) {
        return fail(manifestFile.string() + " shows that releases are signed here: give --key, "
                    "or launchers built with a key refuse this release");
    }
    const std::string listText =
        ServerListText(launcherVersion, std::to_string(announced + 1), err);
    if (listText.empty()) return kFailed;

    // Package `announced` brings a client from that patch to the next. No
    // list names it yet, so a file there is the leftover of a release that
    // did not finish, never something a client fetched.
    const std::string packageName = FiveDigits(announced) + ".DAT";
    const fs::path package = packageDirectory / packageName;
    fs::create_directories(packageDirectory, ec);
    fs::create_directories(listDirectory, ec);
    if (ec) return fail(options.out + ": cannot create the folders: " + ec.message());
    if (fs::exists(package, ec)) {
        err << "mkpatch: note: replacing " << package.string()
            << ", which no list announces (left by a release that did not finish)\n";
    }
    const int packed =
        first ? Build(package.string(), options.next, out, err, options.names, options.threads)
              : Diff(package.string(), options.previous, options.next, out, err, options.names,
                     options.threads);
    if (packed != kOk) return packed;
    std::vector<std::pair<std::string, std::uint32_t>> entries;
    std::int32_t count = 0;
    if (!EntrySizes(package, entries, count, err)) return kFailed;
    if (count == 0) {
        fs::remove(package, ec);
        return fail("no file changed between " + options.previous + " and " + options.next +
                    "; nothing to release");
    }
    // The launcher's package reader and decompression over every entry.
    std::ostringstream verified;
    if (Verify(package.string(), verified, err) != kOk) return kFailed;

    const fs::path stagedList = listFile.string() + kStaged;
    const fs::path stagedManifest = manifestFile.string() + kStaged;
    const fs::path indexFile = listDirectory / kFileIndexFile;
    const fs::path stagedIndex = indexFile.string() + kStaged;
    struct Staged {
        const fs::path& list;
        const fs::path& manifest;
        const fs::path& index;
        ~Staged() {
            std::error_code ignored;
            fs::remove(list, ignored);
            fs::remove(manifest, ignored);
            fs::remove(index, ignored);
        }
    } removeStagedAtTheEnd{stagedList, stagedManifest, stagedIndex};
    fs::remove(stagedIndex, ec);
    if (!WriteText(stagedList, listText, err)) return kFailed;
    std::string written;
    const ServerListEntries check = ReadText(stagedList, written) ? ParseServerVersionList(written)
                                                                  : ServerListEntries{};
    if (LastBytes(check.first, 7) != launcherVersion ||
        AtoiLike(LastBytes(check.second, 5)) != announced + 1) {
        return fail(stagedList.string() + " does not read back as launcher " + launcherVersion +
                    ", patch " + std::to_string(announced + 1));
    }
    // The file index: after the package, before the manifest that vouches for
    // it. Without it, one beside the list describes the release before: it
    // goes when the list does.
    const bool indexed = !options.noIndex && IndexAvailable();
    const bool indexRetired = !indexed && fs::exists(indexFile, ec);
    std::string indexText;
    if (indexed) {
        IndexOptions index;
        index.listFile = stagedList.string();
        index.packageDirectory = packageDirectory.string();
        index.tree = options.next;
        index.names = options.names;
        index.threads = options.threads;
        index.indexFile = stagedIndex.string();
        std::ostringstream indexOut;
        if (Index(index, indexOut, err) != kOk) {
            return fail("no release: the file index cannot be made (--no-index releases without "
                        "one)");
        }
        indexText = indexOut.str();
    }
    std::string signedText;
    if (!options.keyFile.empty()) {
        SignOptions sign = options.sign;
        sign.keyFile = options.keyFile;
        sign.listFile = stagedList.string();
        sign.packageDirectory = packageDirectory.string();
        sign.manifestFile = stagedManifest.string();
        // Missing when no index is made: then none is signed.
        sign.indexFile = stagedIndex.string();
        std::ostringstream signedOut;
        if (Sign(sign, signedOut, err) != kOk) return kFailed;
        // Sign names the staged file; it is published under its own name.
        signedText = signedOut.str();
        std::ostringstream checked;
        if (CheckSignedRelease(stagedList.string(), stagedManifest.string(),
                               packageDirectory.string(), options.keyFile, checked, err,
                               stagedIndex.string()) != kOk) {
            return kFailed;
        }
        signedText += checked.str();
    }

    // The index and the manifest first: a client reads the list, then the
    // manifest, then the index.
    if (indexed) fs::rename(stagedIndex, indexFile, ec);
    if (!ec && indexRetired) fs::remove(indexFile, ec);
    if (!ec && !options.keyFile.empty()) fs::rename(stagedManifest, manifestFile, ec);
    if (!ec) fs::rename(stagedList, listFile, ec);
    if (ec) return fail("cannot put the list in place: " + ec.message());
    const std::string soundLine = verified.str().substr(0, verified.str().find('\n') + 1);
    // Index and Sign name the staged files; they are published under their own names.
    std::string said = indexText + signedText;
    for (std::size_t at; (at = said.find(kStaged)) != std::string::npos;)
        said.erase(at, std::string(kStaged).size());
    const std::string versionPath = fs::path(kVersionPath).relative_path().string();
    out << soundLine << listFile.string() << ": launcher " << launcherVersion
        << ", latest patch " << announced + 1 << "\n"
        << said << "release of patch " << announced + 1 << ": " << packageName
        << " brings clients from patch " << announced << "; upload "
        << fs::path(kPatchPath).relative_path().string() << packageName << " first, then "
        << (indexed ? versionPath + kFileIndexFile + ", then " : "")
        << (options.keyFile.empty() ? "" : versionPath + "SERVERVER.SIG, then ") << versionPath
        << kServerVersionList << "\n";
    if (indexRetired) {
        out << "released without a file index: delete " << versionPath << kFileIndexFile
            << " from the servers before uploading the list\n";
    }
    return kOk;
}

}  // namespace launcher::mkpatch

// mkpatch: builds, lists and verifies patch packages and writes and checks the
// server's version list.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace launcher::mkpatch {

// Exit statuses.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kBadUsage = 2;

// Runs one command line (without the program name); reports go to `out`,
// errors and warnings to `err`.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// How entry names are stored: UTF-8 for Linux clients, code page 936 for
// Windows clients on a Chinese system (they read names in the system's code
// page). Unsaid, only ASCII names are taken: the bytes of any other name mean
// different characters to the two kinds of client.
enum class Names { kUnsaid, kUtf8, kGbk };

// The commands, arguments already counted.
// `threads` 0: one per core; the package is the same whatever the number.
int Build(const std::string& output, const std::string& directory, std::ostream& out,
          std::ostream& err, Names names = Names::kUnsaid, unsigned threads = 0);
int Diff(const std::string& output, const std::string& oldDirectory,
         const std::string& newDirectory, std::ostream& out, std::ostream& err,
         Names names = Names::kUnsaid, unsigned threads = 0);
int List(const std::string& package, std::ostream& out, std::ostream& err);
int Verify(const std::string& package, std::ostream& out, std::ostream& err);
// The version list serverlist writes; empty, with the reason on `err`, when
// the values cannot be announced.
std::string ServerListText(const std::string& launcherVersion, const std::string& latest,
                           std::ostream& err);
int ServerList(const std::string& launcherVersion, const std::string& latest,
               const std::string& output, std::ostream& out, std::ostream& err);
// `launcherVersion` may be empty: then the list is only explained.
int CheckList(const std::string& file, const std::string& launcherVersion, std::ostream& out,
              std::ostream& err);

// Writes NAME.key (secret, mode 0600) and NAME.pub (public), base64 Ed25519.
int KeyGen(const std::string& name, std::ostream& out, std::ostream& err);

struct SignOptions {
    std::string keyFile;           // NAME.key of keygen
    std::string listFile;          // SERVERVER.INI; the manifest is written beside it
    std::string packageDirectory;  // holds 00001.DAT .. latest-1
    std::uint64_t serial = 0;      // must grow with every release
    int validDays = 30;
    std::int64_t now = 0;  // seconds since 1970
    // Signs a serial that is not above the replaced manifest's, or that lies
    // more than a day ahead of `now`.
    bool force = false;
    // The serial is the time, not the operator's: when the replaced manifest
    // already has it (signed again within a second), the next one is taken.
    bool defaultSerial = false;
    // Where the manifest is written; SERVERVER.SIG beside the list when empty
    // (the serial is always compared with that one).
    std::string manifestFile = {};
    // The file index to list as FILES.IDX; FILES.IDX beside the list, when
    // there is one, if empty.
    std::string indexFile = {};
};
// Writes the signed manifest SERVERVER.SIG beside the list: serial, expiry, the
// list's launcher version and latest patch, size and SHA-256 of every package
// a client fetches, of Launcher.exe_ when it lies beside the list and of the
// file index when there is one (refused when it describes another patch).
int Sign(const SignOptions& options, std::ostream& out, std::ostream& err);
std::int64_t NowSeconds();

// Checks a signed release as a launcher built with the public key of
// `keyFile` would: the manifest against the list, then every package,
// Launcher.exe_ and the file index (`indexFile`, or FILES.IDX beside the list
// when empty) against the manifest.
int CheckSignedRelease(const std::string& listFile, const std::string& manifestFile,
                       const std::string& packageDirectory, const std::string& keyFile,
                       std::ostream& out, std::ostream& err, const std::string& indexFile = {});

struct IndexOptions {
    std::string listFile;          // SERVERVER.INI: the latest patch
    std::string packageDirectory;  // holds 00001.DAT .. latest-1
    std::string tree;              // the release's full tree (index only)
    Names names = Names::kUnsaid;
    unsigned threads = 0;
    std::string indexFile = {};  // FILES.IDX beside the list when empty
};
// Writes FILES.IDX: for every file of `tree`, the last entry the packages hold
// of it, with the size and SHA-256 it inflates to; and the names the packages
// carried that the tree lacks. Refuses, naming the file, when the packages do
// not produce the tree.
int Index(const IndexOptions& options, std::ostream& out, std::ostream& err);
// Checks an index against the packages: every entry where it says, of that
// name, length, size and hash, and the last of its name; every name the
// packages carry indexed or removed, and no other name removed.
int VerifyIndex(const IndexOptions& options, std::ostream& out, std::ostream& err);
// Whether this build makes indexes (they need SHA-256).
bool IndexAvailable();
// The latest patch the version list announces; 0, with the reason on `err`,
// when it does not read as a list.
int ListedLatest(const std::string& listFile, std::ostream& err);

struct ReleaseOptions {
    std::string previous;  // the tree of the release being followed; empty for the first
    std::string next;      // the tree being released
    std::string out;       // the servers' root: the version list and package folders
    std::string launcherVersion;  // empty: the one announced now, or this build's
    Names names = Names::kUnsaid;
    unsigned threads = 0;
    std::string keyFile;  // empty: unsigned
    SignOptions sign;     // serial, validity, force
    bool noIndex = false;  // publish no FILES.IDX (and retire one that is there)
};
// Packs the next package into `out`, writes the version list announcing it
// (and the signed manifest), checks them as the launcher reads them, and only
// then puts the list in place. Never replaces a package a list announced.
// Unless told not to, writes the file index of the release beside the list
// (and signs it with the list).
int Release(const ReleaseOptions& options, std::ostream& out, std::ostream& err);

// For checklist: the signed manifest beside the version list `listFile`, if
// any, against the list's launcher version and latest patch: its serial and
// when it expires. Returns the number of warnings written to `out`.
int CheckSignedManifest(const std::string& listFile, const std::string& launcherVersion,
                        int latest, std::int64_t now, std::ostream& out);

}  // namespace launcher::mkpatch

// mkpatch's command line.
#include "tools/mkpatch/mkpatch.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>

namespace launcher::mkpatch {

namespace {

constexpr const char* kUsage =
    R"(usage: mkpatch COMMAND ...

  mkpatch build [--names utf8|gbk] [--threads N] OUT.DAT DIR
      Packs every file under DIR (names relative to DIR) into the patch package
      OUT.DAT. Empty directories are not carried. A file holds at most 4 GiB - 1.
      Compresses on N threads (default: one per core); the package is the same
      whatever N.
      Names other than plain ASCII need --names, for the clients' code page:
      Windows clients read names in the system's code page (--names gbk stores
      them in code page 936, that of Chinese systems), Linux clients in UTF-8
      (--names utf8).
  mkpatch diff [--names utf8|gbk] [--threads N] OUT.DAT OLD NEW
      Packs the files of NEW that are new or changed against OLD. Packages cannot
      delete files; files only in OLD are listed as a warning.
  mkpatch list PKG
      Prints every entry: offset, uncompressed and compressed size, name; and
      which encodings the names are valid in.
  mkpatch verify PKG
      Decompresses every entry; prints the first problem with its byte offset.
      What the launcher applies all the same (bytes after the last entry, a
      declared size larger than the data) is a warning, and so is an entry that
      needs more than 512 MiB of memory to apply (32-bit clients may lack it).
      Exit status 0 for a package the launcher applies.
  mkpatch serverlist --launcher VERSION --latest N [-o SERVERVER.INI]
                     [--sign NAME.key --packages DIR [--serial N] [--valid-days D]
                      [--force]]
      Writes a version list that the launcher reads as launcher VERSION (at most
      7 bytes) and latest patch N (1..99999); to standard output without -o.
      With --sign, also signs it as 'mkpatch sign' does.
  mkpatch keygen NAME
      Writes an Ed25519 key pair: NAME.key (secret, mode 0600) and NAME.pub
      (the public key a launcher build carries).
  mkpatch sign --key NAME.key --packages DIR [--serial N] [--valid-days D]
               [--force] LIST
      Writes SERVERVER.SIG beside the version list LIST: serial N (default: the
      time in seconds, so that it grows), expiry in D days (default 30), the
      list's launcher version and latest patch, size and SHA-256 of packages
      00001.DAT up to the latest-1 in DIR and of Launcher.exe_ and FILES.IDX
      beside LIST (a FILES.IDX of another patch is refused).
      A client that accepted a serial refuses every lower one for ever, so a
      serial not above that of the SERVERVER.SIG being replaced, or more than a
      day ahead of the time in seconds, is refused unless --force is given.
  mkpatch index --tree TREE --packages DIR [--names utf8|gbk] [--threads N] LIST
      Writes the file index FILES.IDX beside the version list LIST: for every
      file of TREE, the full tree of the release LIST announces, the package,
      offset and length of its last entry in 00001.DAT .. latest-1 in DIR, and
      the size and SHA-256 that entry unpacks to; and the names the packages
      carried that TREE lacks. Refuses, naming the file, when the packages do
      not produce TREE. Names are compared as stored: give --names as to diff.
  mkpatch verify-index --packages DIR [--threads N] LIST
      Checks FILES.IDX beside LIST against the list and the packages: every
      entry where it says, of that name and length, unpacking to that size and
      SHA-256, and the last of its name; every name the packages carry indexed
      or removed, and no other name removed. Exit status 0 when it is sound.
  mkpatch release [--previous OLD] --next NEW --out ROOT [--key NAME.key]
                  [--launcher VERSION] [--names utf8|gbk] [--serial N]
                  [--valid-days D] [--force] [--threads N] [--no-index]
      The next release in one step. ROOT is what the servers serve:
      ROOT/corvatheon2_online/ the packages, ROOT/corvatheon_version/
      corvatheon2_online/ the version list. The first release (nothing
      announced in ROOT yet) packs all of NEW as 00001.DAT and announces patch
      2; every later one packs what changed from OLD, the tree of the release
      announced now, as the next package. Then the version list (launcher
      VERSION: default the one announced now), FILES.IDX as 'mkpatch index'
      writes it for NEW (--no-index: none, and one there is removed) and,
      with --key, SERVERVER.SIG as 'mkpatch sign' writes it. The package is
      verified, the list read back and the signed release checked as the
      launcher does before the list is put in place; a package that a list
      announces is never replaced.
  mkpatch checklist [--launcher VERSION] FILE
      Explains how the launcher reads the version list FILE and warns about
      lines that will not do what was meant; with SERVERVER.SIG beside FILE,
      says when it expires. Exit status 0 when there is nothing to warn about.

Packages are applied in order: package N (NNNNN.DAT) brings a client from patch
N to N+1. Exit status: 0 success, 1 failure, 2 bad usage.
)";

int BadUsage(std::ostream& err, const std::string& why) {
    err << "mkpatch: " << why << "\n" << kUsage;
    return kBadUsage;
}

// The options that take no value.
const std::vector<std::string> kFlags = {"--force", "--no-index"};

// Options of the form "--name value" or "-o value", and flags, which get the
// value "yes"; everything else is positional. Returns false for an option
// without its value or an unknown one.
bool SplitOptions(const std::vector<std::string>& args, const std::vector<std::string>& known,
                  std::vector<std::pair<std::string, std::string>>& options,
                  std::vector<std::string>& positional, std::string& error) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 1 && arg[0] == '-') {
            if (std::find(known.begin(), known.end(), arg) == known.end()) {
                error = "unknown option " + arg;
                return false;
            }
            if (std::find(kFlags.begin(), kFlags.end(), arg) != kFlags.end()) {
                options.emplace_back(arg, "yes");
                continue;
            }
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            options.emplace_back(arg, args[++i]);
        } else {
            positional.push_back(arg);
        }
    }
    return true;
}

std::string Option(const std::vector<std::pair<std::string, std::string>>& options,
                   const std::string& name) {
    std::string value;
    for (const auto& [key, v] : options) {
        if (key == name) value = v;
    }
    return value;
}

bool ReadSignOptions(const std::vector<std::pair<std::string, std::string>>& options,
                     const std::string& key, const std::string& list, SignOptions& sign,
                     std::string& error, bool packagesGiven = true) {
    sign.keyFile = key;
    sign.listFile = list;
    sign.packageDirectory = Option(options, "--packages");
    sign.force = !Option(options, "--force").empty();
    sign.now = NowSeconds();
    sign.serial = static_cast<std::uint64_t>(sign.now);
    const std::string serial = Option(options, "--serial");
    const std::string days = Option(options, "--valid-days");
    try {
        sign.defaultSerial = serial.empty();
        if (!serial.empty()) sign.serial = std::stoull(serial);
        if (!days.empty()) sign.validDays = std::stoi(days);
    } catch (const std::exception&) {
        error = "--serial and --valid-days take numbers";
        return false;
    }
    if (key.empty() || (packagesGiven && sign.packageDirectory.empty()) || sign.validDays < 1) {
        error = "signing needs a key, --packages DIR and at least one valid day";
        return false;
    }
    return true;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return kOk;
        }
    }
    if (args.empty()) return BadUsage(err, "no command");
    const std::string& command = args[0];
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;
    std::string error;
    std::vector<std::string> known;
    if (command == "serverlist")
        known = {"--launcher", "--latest",     "-o",     "--sign",
                 "--packages", "--serial", "--valid-days", "--force"};
    if (command == "sign") known = {"--key", "--packages", "--serial", "--valid-days", "--force"};
    if (command == "checklist") known = {"--launcher"};
    if (command == "release")
        known = {"--previous", "--next",   "--out",        "--key",  "--launcher",
                 "--names",    "--serial", "--valid-days", "--force", "--threads",
                 "--no-index"};
    if (command == "build" || command == "diff") known = {"--names", "--threads"};
    if (command == "index") known = {"--tree", "--packages", "--names", "--threads"};
    if (command == "verify-index") known = {"--packages", "--threads"};
    if (!SplitOptions(args, known, options, positional, error)) return BadUsage(err, error);
    const std::string nameOption = Option(options, "--names");
    Names names = Names::kUnsaid;
    if (nameOption == "gbk") {
        names = Names::kGbk;
    } else if (nameOption == "utf8" || nameOption == "utf-8") {
        names = Names::kUtf8;
    } else if (!nameOption.empty()) {
        return BadUsage(err, "--names takes utf8 or gbk");
    }

    unsigned threads = 0;
    if (const std::string text = Option(options, "--threads"); !text.empty()) {
        if (text.find_first_not_of("0123456789") != std::string::npos || text.size() > 3)
            return BadUsage(err, "--threads takes a number (0: one per core)");
        threads = static_cast<unsigned>(std::stoul(text));
    }
    auto expect = [&](std::size_t count) {
        return positional.size() == count;
    };
    if (command == "build") {
        if (!expect(2)) return BadUsage(err, "build takes OUT.DAT DIR");
        return Build(positional[0], positional[1], out, err, names, threads);
    }
    if (command == "diff") {
        if (!expect(3)) return BadUsage(err, "diff takes OUT.DAT OLD NEW");
        return Diff(positional[0], positional[1], positional[2], out, err, names, threads);
    }
    if (command == "list") {
        if (!expect(1)) return BadUsage(err, "list takes PKG");
        return List(positional[0], out, err);
    }
    if (command == "verify") {
        if (!expect(1)) return BadUsage(err, "verify takes PKG");
        return Verify(positional[0], out, err);
    }
    if (command == "serverlist") {
        const std::string launcher = Option(options, "--launcher");
        const std::string latest = Option(options, "--latest");
        if (!expect(0) || launcher.empty() || latest.empty()) {
            return BadUsage(err, "serverlist takes --launcher VERSION --latest N [-o FILE]");
        }
        const std::string key = Option(options, "--sign");
        if (key.empty()) return ServerList(launcher, latest, Option(options, "-o"), out, err);
        if (Option(options, "-o").empty()) return BadUsage(err, "serverlist --sign needs -o FILE");
        SignOptions sign;
        if (!ReadSignOptions(options, key, Option(options, "-o"), sign, error))
            return BadUsage(err, error);
        const int listed = ServerList(launcher, latest, Option(options, "-o"), out, err);
        return listed == kOk ? Sign(sign, out, err) : listed;
    }
    if (command == "keygen") {
        if (!expect(1)) return BadUsage(err, "keygen takes NAME");
        return KeyGen(positional[0], out, err);
    }
    if (command == "sign") {
        SignOptions sign;
        if (!expect(1)) return BadUsage(err, "sign takes --key KEY --packages DIR LIST");
        if (!ReadSignOptions(options, Option(options, "--key"), positional[0], sign, error))
            return BadUsage(err, error);
        return Sign(sign, out, err);
    }
    if (command == "release") {
        ReleaseOptions release;
        release.previous = Option(options, "--previous");
        release.next = Option(options, "--next");
        release.out = Option(options, "--out");
        release.keyFile = Option(options, "--key");
        release.launcherVersion = Option(options, "--launcher");
        release.names = names;
        release.threads = threads;
        release.noIndex = !Option(options, "--no-index").empty();
        if (!expect(0) || release.next.empty() || release.out.empty())
            return BadUsage(err, "release takes [--previous OLD] --next NEW --out ROOT");
        if (!release.keyFile.empty() &&
            !ReadSignOptions(options, release.keyFile, "", release.sign, error, false))
            return BadUsage(err, error);
        return Release(release, out, err);
    }
    if (command == "index" || command == "verify-index") {
        IndexOptions index;
        index.tree = Option(options, "--tree");
        index.packageDirectory = Option(options, "--packages");
        index.names = names;
        index.threads = threads;
        const bool making = command == "index";
        if (!expect(1) || index.packageDirectory.empty() || (making && index.tree.empty())) {
            return BadUsage(err, making ? "index takes --tree DIR --packages DIR LIST"
                                        : "verify-index takes --packages DIR LIST");
        }
        index.listFile = positional[0];
        return making ? Index(index, out, err) : VerifyIndex(index, out, err);
    }
    if (command == "checklist") {
        if (!expect(1)) return BadUsage(err, "checklist takes [--launcher VERSION] FILE");
        return CheckList(positional[0], Option(options, "--launcher"), out, err);
    }
    return BadUsage(err, "unknown command " + command);
}

}  // namespace launcher::mkpatch

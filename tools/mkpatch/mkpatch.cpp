// mkpatch's command line.
#include "tools/mkpatch/mkpatch.h"

#include <algorithm>
#include <ostream>

namespace launcher::mkpatch {

namespace {

constexpr const char* kUsage =
    R"(usage: mkpatch COMMAND ...

  mkpatch build OUT.DAT DIR
      Packs every file under DIR (names relative to DIR) into the patch package
      OUT.DAT. Empty directories are not carried.
  mkpatch diff OUT.DAT OLD NEW
      Packs the files of NEW that are new or changed against OLD. Packages cannot
      delete files; files only in OLD are listed as a warning.
  mkpatch list PKG
      Prints every entry: offset, uncompressed and compressed size, name.
  mkpatch verify PKG
      Decompresses every entry in memory; prints the first problem with its byte
      offset. What the launcher applies all the same (bytes after the last entry,
      a declared size larger than the data) is a warning. Exit status 0 for a
      package the launcher applies.
  mkpatch serverlist --launcher VERSION --latest N [-o SERVERVER.INI]
      Writes a version list that the launcher reads as launcher VERSION (at most
      7 bytes) and latest patch N (1..99999); to standard output without -o.
  mkpatch checklist [--launcher VERSION] FILE
      Explains how the launcher reads the version list FILE and warns about
      lines that will not do what was meant. Exit status 0 when there is nothing
      to warn about.

Packages are applied in order: package N (NNNNN.DAT) brings a client from patch
N to N+1. Exit status: 0 success, 1 failure, 2 bad usage.
)";

int BadUsage(std::ostream& err, const std::string& why) {
    err << "mkpatch: " << why << "\n" << kUsage;
    return kBadUsage;
}

// Options of the form "--name value" or "-o value"; everything else is
// positional. Returns false for an option without its value or an unknown one.
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
    if (command == "serverlist") known = {"--launcher", "--latest", "-o"};
    if (command == "checklist") known = {"--launcher"};
    if (!SplitOptions(args, known, options, positional, error)) return BadUsage(err, error);

    auto expect = [&](std::size_t count) {
        return positional.size() == count;
    };
    if (command == "build") {
        if (!expect(2)) return BadUsage(err, "build takes OUT.DAT DIR");
        return Build(positional[0], positional[1], out, err);
    }
    if (command == "diff") {
        if (!expect(3)) return BadUsage(err, "diff takes OUT.DAT OLD NEW");
        return Diff(positional[0], positional[1], positional[2], out, err);
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
        return ServerList(launcher, latest, Option(options, "-o"), out, err);
    }
    if (command == "checklist") {
        if (!expect(1)) return BadUsage(err, "checklist takes [--launcher VERSION] FILE");
        return CheckList(positional[0], Option(options, "--launcher"), out, err);
    }
    return BadUsage(err, "unknown command " + command);
}

}  // namespace launcher::mkpatch

// mkpatch serverlist and checklist: the version list as the launcher reads it.
// Every reading rule comes from the engine (ParseServerVersionList, LastBytes,
// AtoiLike), so what this tool says is what the launcher does.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <ostream>
#include <sstream>
#include <filesystem>
#include <system_error>

#include "engine/version_records.h"
#include "platform/ascii_text.h"
#include "platform/files.h"
#include "tools/mkpatch/mkpatch.h"
#include "transfer/file_index.h"

namespace launcher::mkpatch {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLauncherCut = 7;
constexpr std::size_t kPatchCut = 5;
constexpr int kHighestPatch = 99999;

bool IsDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char ch) {
        return std::isdigit(ch) != 0;
    });
}

// The run of digits and dots an entry ends with: what an operator means by
// the version or number in it.
std::string VersionTail(const std::string& entry) {
    std::size_t start = entry.size();
    while (start > 0 && (std::isdigit(static_cast<unsigned char>(entry[start - 1])) ||
                         entry[start - 1] == '.')) {
        --start;
    }
    return entry.substr(start);
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// A FILES.IDX beside the list must describe its latest patch; one of another
// patch is left from an earlier release. Returns the number of warnings.
int CheckIndexBeside(const std::string& listFile, int latest, std::ostream& out,
                     const char* warning) {
    const std::string path = (fs::path(listFile).parent_path() / kFileIndexFile).string();
    std::string text;
    if (!PathExists(path) || !ReadWholeFile(path, text)) return 0;
    FileIndex index;
    std::string why;
    if (!ParseFileIndex(text, index, why)) {
        out << warning << path << " is not a readable file index: " << why << "\n";
        return 1;
    }
    if (index.latest == latest) return 0;
    out << warning << path << " describes patch " << index.latest << ", the list announces "
        << latest << ": make it again with 'mkpatch index', or remove it\n";
    return 1;
}

}  // namespace

std::string ServerListText(const std::string& launcherVersion, const std::string& latest,
                           std::ostream& err) {
    const std::string& version = launcherVersion;
    if (version.empty() || std::any_of(version.begin(), version.end(), [](unsigned char ch) {
            return std::isspace(ch) || std::iscntrl(ch);
        })) {
        err << "mkpatch: launcher version " << Quote(version)
            << " must be non-empty, without white space\n";
        return {};
    }
    if (version.size() > kLauncherCut) {
        err << "mkpatch: launcher version " << Quote(version) << " has " << version.size()
            << " bytes; the launcher compares only the last " << kLauncherCut
            << " bytes of its entry, so it would never match\n";
        return {};
    }
    if (!IsDigits(latest) || latest.size() > 5 || AtoiLike(latest) < 1) {
        err << "mkpatch: latest patch " << Quote(latest) << " must be a number from 1 to "
            << kHighestPatch << "\n";
        return {};
    }
    const int number = AtoiLike(latest);
    // The launcher entry must sort first and end in exactly the version. A
    // seven-byte version gets a prefix that sorts before the patch entry's; a
    // shorter one must be the whole entry, and the patch entry then begins with
    // it so that it sorts after.
    std::string launcherEntry;
    std::string patchEntry;
    if (version.size() == kLauncherCut) {
        launcherEntry = "a-launcher=" + version;
        patchEntry = "b-patch=" + FiveDigits(number);
    } else {
        launcherEntry = version;
        patchEntry = version + "-patch=" + FiveDigits(number);
    }
    const std::string text = launcherEntry + "\n" + patchEntry + "\n";

    // Read it back the launcher's way before anyone uploads it.
    ServerListEntries entries = ParseServerVersionList(text);
    if (entries.count != 2 || LastBytes(entries.first, kLauncherCut) != version ||
        AtoiLike(LastBytes(entries.second, kPatchCut)) != number) {
        err << "mkpatch: internal error: the list would not read back as launcher " << version
            << ", patch " << number << "\n";
        return {};
    }
    return text;
}

int ServerList(const std::string& launcherVersion, const std::string& latest,
               const std::string& output, std::ostream& out, std::ostream& err) {
    const std::string text = ServerListText(launcherVersion, latest, err);
    if (text.empty()) return kFailed;
    if (output.empty()) {
        out << text;
        return kOk;
    }
    // By way of a temporary made exclusively beside it, never through a link.
    if (!ReplaceFileAtomically(output, text.data(), text.size())) {
        err << "mkpatch: " << output << ": cannot write: "
            << std::generic_category().message(errno) << "\n";
        return kFailed;
    }
    out << output << ": launcher version " << launcherVersion << ", latest patch "
        << AtoiLike(latest) << "\n";
    CheckIndexBeside(output, AtoiLike(latest), err, "mkpatch: warning: ");
    return kOk;
}

int CheckList(const std::string& file, const std::string& launcherVersion, std::ostream& out,
              std::ostream& err) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (!in) {
        err << "mkpatch: " << file << ": cannot read\n";
        return kFailed;
    }
    const std::string contents = buffer.str();
    int warnings = 0;
    auto warn = [&](const std::string& text) {
        out << "warning: " << text << "\n";
        ++warnings;
    };

    // Line by line only to point at lines; the entries themselves come from
    // the launcher's own reading below.
    std::string text = contents;
    if (std::size_t stop = text.find('\x1a'); stop != std::string::npos) {
        out << "note: byte " << stop << " is Ctrl-Z; the launcher reads nothing after it\n";
        text.resize(stop);
    }
    std::vector<std::string> seen;
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        const std::string trimmed = ParseServerVersionList(line).first;
        const std::string where = "line " + std::to_string(lineNumber);
        if (trimmed.empty()) {
            warn(where + " is blank; the launcher skips it, but a launcher that counted it "
                         "would take the empty entry as its launcher version");
            continue;
        }
        if (trimmed != line && trimmed + "\r" != line) {
            out << "note: " << where << ": white space around " << Quote(trimmed)
                << " is trimmed\n";
        }
        if (std::find(seen.begin(), seen.end(), trimmed) != seen.end()) {
            out << "note: " << where << " repeats an earlier line; it counts once\n";
        }
        seen.push_back(trimmed);
    }

    const ServerListEntries entries = ParseServerVersionList(contents);
    if (entries.count == 0) {
        warn("no entries: the launcher stops with an error at every start");
        return kFailed;
    }
    std::sort(seen.begin(), seen.end());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    out << file << ": " << entries.count << (entries.count == 1 ? " entry" : " entries")
        << ", in the order the launcher sorts them:\n";
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const char* role = i == 0 ? (entries.count == 1 ? "launcher and patch entry"
                                                        : "launcher entry")
                                  : i == 1 ? "patch entry" : "ignored";
        out << "  " << i + 1 << ". " << Quote(seen[i]) << "  " << role << "\n";
    }

    const std::string announced = LastBytes(entries.first, kLauncherCut);
    const std::string numberText = LastBytes(entries.second, kPatchCut);
    const int latestPatch = AtoiLike(numberText);
    out << "launcher version: " << Quote(announced) << " (last " << kLauncherCut
        << " bytes of the launcher entry)\n";
    out << "latest patch:     " << latestPatch << " (" << Quote(numberText) << ", last "
        << kPatchCut << " bytes of the patch entry)\n";

    if (entries.count == 1) {
        warn("only one entry: it serves as launcher entry and as patch entry");
    }
    if (entries.count > 2) {
        warn("entries after the second are ignored; check that the launcher and patch "
             "entries sort first");
    }
    const std::string firstTail = VersionTail(entries.first);
    const std::string secondTail = VersionTail(entries.second);
    if (entries.count >= 2 && firstTail.find('.') == std::string::npos &&
        secondTail.find('.') != std::string::npos) {
        warn(Quote(entries.first) + " sorts before " + Quote(entries.second) +
             ": the launcher takes the number as its version and reads the patch number "
             "from the version. Prefix the lines so that the launcher line sorts first, "
             "as 'mkpatch serverlist' does ('a-launcher=1.1.6.0', 'b-patch=00012')");
    } else if (entries.first.size() > kLauncherCut && firstTail.size() != kLauncherCut &&
               !firstTail.empty()) {
        warn("the launcher entry ends in " + Quote(firstTail) + " (" +
             std::to_string(firstTail.size()) + " bytes) but the launcher compares only its last " +
             std::to_string(kLauncherCut) + " bytes, " + Quote(announced) +
             ": no launcher will ever match it");
    }
    if (!IsDigits(numberText)) {
        warn("the last " + std::to_string(kPatchCut) + " bytes of the patch entry, " +
             Quote(numberText) + ", are not five digits; the launcher reads them as " +
             std::to_string(latestPatch));
    } else if (secondTail.size() > kPatchCut && IsDigits(secondTail)) {
        warn("the patch entry ends in " + Quote(secondTail) + " but only its last " +
             std::to_string(kPatchCut) + " digits count: " + std::to_string(latestPatch));
    }
    if (latestPatch < 1) warn("latest patch " + std::to_string(latestPatch) + ": no client is patched");

    if (!launcherVersion.empty()) {
        if (EqualIgnoringCase(launcherVersion, announced)) {
            out << "a launcher of version " << launcherVersion << " is current and patches up to "
                << latestPatch << "\n";
        } else {
            out << "a launcher of version " << launcherVersion
                << " differs and downloads the replacement launcher at every start\n";
            if (launcherVersion.size() > kLauncherCut) {
                warn("version " + Quote(launcherVersion) + " is longer than " +
                     std::to_string(kLauncherCut) + " bytes and can never match");
            }
        }
    }
    warnings += CheckSignedManifest(file, announced, latestPatch, NowSeconds(), out);
    warnings += CheckIndexBeside(file, latestPatch, out, "warning: ");
    if (warnings == 0) out << "the list reads as written\n";
    (void)err;
    return warnings == 0 ? kOk : kFailed;
}

}  // namespace launcher::mkpatch

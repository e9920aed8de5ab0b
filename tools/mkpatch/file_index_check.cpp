// mkpatch verify-index: FILES.IDX against the packages, as a launcher that
// trusts it would use it.
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <vector>

#include "engine/version_records.h"
#include "tools/mkpatch/mkpatch.h"
#include "tools/mkpatch/package_history.h"
#include "transfer/file_index.h"

namespace launcher::mkpatch {

namespace fs = std::filesystem;

namespace {

constexpr int kNamedProblems = 10;

}  // namespace

int VerifyIndex(const IndexOptions& options, std::ostream& out, std::ostream& err) {
    const std::string indexFile =
        options.indexFile.empty()
            ? (fs::path(options.listFile).parent_path() / kFileIndexFile).string()
            : options.indexFile;
    const int latest = ListedLatest(options.listFile, err);
    if (latest < 1) return kFailed;
    std::ifstream in(indexFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    FileIndex index;
    std::string why;
    if (!in) {
        err << "mkpatch: " << indexFile << ": cannot read\n";
        return kFailed;
    }
    if (!ParseFileIndex(text.str(), index, why)) {
        err << "mkpatch: " << indexFile << ": " << why << "\n";
        return kFailed;
    }
    if (index.latest != latest) {
        err << "mkpatch: " << indexFile << " describes patch " << index.latest << ", "
            << options.listFile << " announces patch " << latest
            << ": make it again with 'mkpatch index'\n";
        return kFailed;
    }
    PackageHistory history;
    if (!ReadPackageHistory(options.packageDirectory, latest, history, err)) return kFailed;

    std::vector<EntryContent> found(index.files.size());
    ForEachOnCores(index.files.size(), options.threads, [&](std::size_t i) {
        const IndexedFile& file = index.files[i];
        found[i] = ReadEntryAt(options.packageDirectory, {file.package, file.offset, file.length});
    });
    int problems = 0;
    auto problem = [&](const std::string& name, const std::string& what) {
        if (problems++ < kNamedProblems) err << "mkpatch: " << indexFile << ": " << name << ": "
                                             << what << "\n";
    };
    std::set<std::string> named;
    for (std::size_t i = 0; i < index.files.size(); ++i) {
        const IndexedFile& file = index.files[i];
        const EntryContent& entry = found[i];
        named.insert(file.name);
        const std::string where =
            FiveDigits(file.package) + ".DAT byte " + std::to_string(file.offset);
        const auto last = history.find(file.name);
        if (!entry.problem.empty()) {
            problem(file.name, entry.problem);
        } else if (entry.name != file.name) {
            problem(file.name, where + " holds an entry of '" + entry.name + "'");
        } else if (entry.length != file.length) {
            problem(file.name, where + ": the entry is " + std::to_string(entry.length) +
                                   " bytes long, the index says " + std::to_string(file.length));
        } else if (entry.size != file.size || entry.sha256 != file.sha256) {
            problem(file.name, where + " inflates to " + std::to_string(entry.size) +
                                   " bytes of SHA-256 " + entry.sha256 + ", not to what the " +
                                   "index says");
        } else if (last == history.end()) {
            problem(file.name, "no package carries it");
        } else if (last->second.package != file.package || last->second.offset != file.offset) {
            problem(file.name, where + " is not its last entry; " +
                                   FiveDigits(last->second.package) + ".DAT byte " +
                                   std::to_string(last->second.offset) + " is");
        }
    }
    for (const std::string& name : index.removed) {
        named.insert(name);
        // Whatever else stands in the installation is the player's.
        if (!history.count(name)) problem(name, "removed, but no package ever carried it");
    }
    for (const auto& [name, place] : history) {
        if (!named.count(name)) problem(name, "carried by " + FiveDigits(place.package) +
                                                  ".DAT but neither indexed nor removed");
    }
    if (problems > 0) {
        if (problems > kNamedProblems)
            err << "mkpatch: ... and " << problems - kNamedProblems << " more\n";
        return kFailed;
    }
    out << indexFile << ": sound, latest patch " << latest << ", " << index.files.size()
        << " files, " << index.removed.size() << " removed names\n";
    return kOk;
}

}  // namespace launcher::mkpatch

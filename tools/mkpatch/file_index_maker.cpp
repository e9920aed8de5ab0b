// mkpatch index: FILES.IDX, where the latest version of every file of the
// release lies in the packages, checked against the release's full tree.
#include <algorithm>
#include <cerrno>
#include <cctype>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <system_error>
#include <tuple>

#include "engine/version_records.h"
#include "integrity/sha256.h"
#include "platform/files.h"
#include "tools/mkpatch/mkpatch.h"
#include "tools/mkpatch/package_history.h"
#include "tools/mkpatch/source_tree.h"
#include "transfer/file_index.h"

namespace launcher::mkpatch {

namespace fs = std::filesystem;

namespace {

// How many mismatches are named before the rest are only counted.
constexpr int kNamedProblems = 10;

std::string AsciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool IndexAvailable() { return true; }

int ListedLatest(const std::string& listFile, std::ostream& err) {
    std::ifstream in(listFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const ServerListEntries entries = ParseServerVersionList(in ? text.str() : std::string());
    const int latest = AtoiLike(LastBytes(entries.second, 5));
    if (entries.count == 0 || latest < 1) {
        err << "mkpatch: " << listFile << " does not read as a version list; check it with "
            << "'mkpatch checklist'\n";
        return 0;
    }
    return latest;
}

int Index(const IndexOptions& options, std::ostream& out, std::ostream& err) {
    const int latest = ListedLatest(options.listFile, err);
    if (latest < 1) return kFailed;
    PackageHistory history;
    if (!ReadPackageHistory(options.packageDirectory, latest, history, err)) return kFailed;
    std::vector<SourceFile> tree;
    if (!Collect(options.tree, options.names, tree, err)) return kFailed;

    // The tree's files and their last entries, in package order so that each
    // package is read front to back.
    struct Job {
        const SourceFile* file;
        EntryPlace place;
        EntryContent entry;
        std::string treeHash;
        std::uint64_t treeSize = 0;
        bool treeRead = false;
    };
    std::vector<Job> jobs;
    int problems = 0;
    auto problem = [&](const std::string& what) {
        if (problems++ < kNamedProblems) err << "mkpatch: " << what << "\n";
    };
    std::set<std::string> inTree;
    std::set<std::string> inTreeFolded;
    for (const SourceFile& file : tree) {
        inTree.insert(file.stored);
        inTreeFolded.insert(AsciiLower(file.stored));
        const auto found = history.find(file.stored);
        if (found == history.end()) {
            problem(file.path.string() + ": no package carries " + file.stored);
            continue;
        }
        jobs.push_back({&file, found->second, {}, {}, 0, false});
    }
    std::sort(jobs.begin(), jobs.end(), [](const Job& a, const Job& b) {
        return std::tie(a.place.package, a.place.offset) < std::tie(b.place.package, b.place.offset);
    });
    ForEachOnCores(jobs.size(), options.threads, [&](std::size_t i) {
        Job& job = jobs[i];
        job.entry = ReadEntryAt(options.packageDirectory, job.place);
        job.treeRead = integrity::Sha256OfFile(job.file->path.string(), job.treeHash,
                                               job.treeSize, true);
    });

    FileIndex index;
    index.latest = latest;
    std::uint64_t bytes = 0;
    for (const Job& job : jobs) {
        const std::string where =
            FiveDigits(job.place.package) + ".DAT byte " + std::to_string(job.place.offset);
        if (!job.entry.problem.empty()) {
            problem(job.file->stored + ": " + job.entry.problem);
        } else if (!job.treeRead) {
            problem(job.file->path.string() + ": cannot read");
        } else if (job.treeSize != job.entry.size || job.treeHash != job.entry.sha256) {
            problem(job.file->path.string() + " differs from its last entry (" + where + ", " +
                    std::to_string(job.entry.size) + " bytes)");
        } else {
            index.files.push_back({job.place.package, job.place.offset, job.entry.length,
                                   job.entry.size, job.entry.sha256, job.file->stored});
            bytes += job.entry.size;
        }
    }
    if (problems > 0) {
        if (problems > kNamedProblems)
            err << "mkpatch: ... and " << problems - kNamedProblems << " more\n";
        err << "mkpatch: the packages up to " << FiveDigits(latest - 1) << ".DAT do not produce "
            << options.tree << "; no index written\n";
        return kFailed;
    }
    // Names only packages carried are retired. One that differs from a name
    // of the tree only in case is the same file on Windows: kept.
    for (const auto& [name, place] : history) {
        if (inTree.count(name)) continue;
        if (inTreeFolded.count(AsciiLower(name))) {
            err << "mkpatch: warning: " << name << " is retired but differs only in case from a "
                << "file of the tree; left out of the removed names\n";
            continue;
        }
        index.removed.push_back(name);
    }

    const std::string text = FormatFileIndex(index);
    FileIndex check;
    std::string why;
    if (!ParseFileIndex(text, check, why)) {
        err << "mkpatch: internal error: the index does not read back: " << why << "\n";
        return kFailed;
    }
    const std::string output =
        options.indexFile.empty()
            ? (fs::path(options.listFile).parent_path() / kFileIndexFile).string()
            : options.indexFile;
    if (!ReplaceFileAtomically(output, text.data(), text.size())) {
        err << "mkpatch: " << output << ": cannot write: "
            << std::generic_category().message(errno) << "\n";
        return kFailed;
    }
    out << output << ": latest patch " << latest << ", " << index.files.size() << " files ("
        << bytes << " bytes), " << index.removed.size() << " removed names\n";
    return kOk;
}

}  // namespace launcher::mkpatch

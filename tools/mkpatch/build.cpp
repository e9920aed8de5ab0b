// mkpatch build and diff: packing directory trees.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <ostream>
#include <set>
#include <sstream>

#include "tools/mkpatch/entry_limits.h"
#include "tools/mkpatch/file_ostream.h"
#include "tools/mkpatch/mkpatch.h"
#include "tools/mkpatch/parallel_deflate.h"
#include "tools/mkpatch/source_tree.h"
#include "transfer/package_format.h"

namespace launcher::mkpatch {

namespace fs = std::filesystem;

namespace {

bool SameContent(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
    std::ifstream inA(a, std::ios::binary), inB(b, std::ios::binary);
    std::string bufferA(1 << 16, '\0'), bufferB(1 << 16, '\0');
    while (inA && inB) {
        inA.read(bufferA.data(), static_cast<std::streamsize>(bufferA.size()));
        inB.read(bufferB.data(), static_cast<std::streamsize>(bufferB.size()));
        if (inA.gcount() != inB.gcount() ||
            bufferA.compare(0, static_cast<std::size_t>(inA.gcount()), bufferB, 0,
                            static_cast<std::size_t>(inB.gcount())) != 0) {
            return false;
        }
    }
    return inA.eof() && inB.eof();
}

// True when `file` would land inside `directory`: the package would pack itself.
bool Inside(const fs::path& file, const fs::path& directory) {
    std::error_code ec;
    const fs::path relative =
        fs::weakly_canonical(file, ec).lexically_relative(fs::weakly_canonical(directory, ec));
    return !relative.empty() && *relative.begin() != "..";
}

int WritePackage(const std::string& output, const std::vector<const SourceFile*>& files,
                 unsigned threads, std::ostream& out, std::ostream& err) {
    if (files.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        err << "mkpatch: too many files for one package\n";
        return kFailed;
    }
    // Written beside the target and renamed, so a failed run leaves no
    // half-made package that could be uploaded by mistake.
    const std::string temporary = output + ".part";
    auto fail = [&](const std::string& message) {
        err << "mkpatch: " << message << "\n";
        std::error_code ec;
        fs::remove(temporary, ec);
        return kFailed;
    };
    // Made exclusively (a leftover is removed first), never through a link,
    // and written through the descriptor that made it.
    FileOstream stream;
    if (!stream.Create(temporary)) return fail(temporary + ": cannot create: " + stream.Problem());
    stream << EncodePackageHeader(static_cast<std::int32_t>(files.size()));

    std::uint64_t unpacked = 0;
    std::uint64_t largest = 0;
    std::string largestName;
    std::vector<DeflateInput> inputs;
    for (const SourceFile* file : files) inputs.push_back({file->path, file->size});
    // Each entry's header goes out with a compressed size of 0, filled in
    // once its stream has been written behind it.
    std::streamoff headerAt = 0;
    std::string error;
    DeflateOutput entries;
    entries.begin = [&](std::size_t index) {
        headerAt = stream.tellp();
        stream << EncodeEntryHeader(files[index]->stored,
                                    static_cast<std::uint32_t>(files[index]->size), 0);
        return static_cast<bool>(stream);
    };
    entries.write = [&](const unsigned char* bytes, std::size_t size) {
        stream.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
        return static_cast<bool>(stream);
    };
    entries.end = [&](std::size_t index, std::uint64_t packed) {
        const SourceFile& file = *files[index];
        if (packed > kMostEntryBytes) {
            error = file.path.string() + ": compressed, it exceeds " + kMostEntryText +
                    ", the most a package entry holds";
            return false;
        }
        const std::streamoff end = stream.tellp();
        stream.seekp(headerAt + static_cast<std::streamoff>(kEntryFixedBytes - 4 +
                                                            file.stored.size() + 1));
        unsigned char field[4];
        PutUint32(field, static_cast<std::uint32_t>(packed));
        stream.write(reinterpret_cast<const char*>(field), sizeof field);
        stream.seekp(end);
        unpacked += file.size;
        if (file.size + packed > largest || largestName.empty()) {
            largest = file.size + packed;
            largestName = file.stored;
        }
        return static_cast<bool>(stream);
    };
    if (!DeflateFiles(inputs, threads, entries, error)) {
        return fail(!error.empty() ? error : "cannot write the package");
    }
    if (!stream.Finish()) return fail(temporary + ": cannot write");
    std::error_code ec;
    fs::rename(temporary, output, ec);
    if (ec) return fail(output + ": " + ec.message());
    out << output << ": " << files.size() << " entries, " << unpacked << " bytes of files, "
        << fs::file_size(output, ec) << " bytes packed\n";
    ReportApplyMemory(output, largestName, largest, out, err);
    return kOk;
}

}  // namespace

int Build(const std::string& output, const std::string& directory, std::ostream& out,
          std::ostream& err, Names names, unsigned threads) {
    if (Inside(output, directory)) {
        err << "mkpatch: " << output << " lies inside " << directory
            << "; the package would contain itself\n";
        return kFailed;
    }
    std::vector<SourceFile> files;
    if (!Collect(directory, names, files, err)) return kFailed;
    std::vector<const SourceFile*> all;
    for (const auto& file : files) all.push_back(&file);
    return WritePackage(output, all, threads, out, err);
}

int Diff(const std::string& output, const std::string& oldDirectory,
         const std::string& newDirectory, std::ostream& out, std::ostream& err, Names names,
         unsigned threads) {
    if (Inside(output, newDirectory)) {
        err << "mkpatch: " << output << " lies inside " << newDirectory
            << "; the package would contain itself\n";
        return kFailed;
    }
    std::vector<SourceFile> oldFiles;
    std::vector<SourceFile> newFiles;
    std::error_code ec;
    if (!fs::is_directory(oldDirectory, ec)) {
        err << "mkpatch: " << oldDirectory << ": not a directory or not readable\n";
        return kFailed;
    }
    // OLD is only compared against: names it could not store do not matter.
    std::ostringstream ignored;
    Collect(oldDirectory, names == Names::kUnsaid ? Names::kUtf8 : names, oldFiles, ignored);
    if (!Collect(newDirectory, names, newFiles, err)) return kFailed;

    const fs::path oldRoot(oldDirectory);
    std::vector<const SourceFile*> changed;
    std::size_t added = 0;
    std::size_t unchanged = 0;
    bool ok = true;
    std::set<fs::path> newPaths;
    for (const auto& file : newFiles) {
        newPaths.insert(file.relative);
        const fs::path before = oldRoot / file.relative;
        // A client that has a directory where the new file goes, or a file
        // where the new file's directory goes, can never apply the package.
        for (fs::path parent = file.relative.parent_path(); !parent.empty();
             parent = parent.parent_path()) {
            if (fs::is_regular_file(oldRoot / parent, ec)) {
                err << "mkpatch: " << file.stored << ": " << parent.string()
                    << " is a file in the old tree; a package cannot turn it into a directory\n";
                ok = false;
            }
        }
        if (fs::is_directory(before, ec)) {
            err << "mkpatch: " << file.stored
                << ": a directory in the old tree; a package cannot replace it with a file\n";
            ok = false;
        } else if (!fs::exists(before, ec)) {
            ++added;
            changed.push_back(&file);
        } else if (SameContent(before, file.path)) {
            ++unchanged;
        } else {
            changed.push_back(&file);
        }
    }
    if (!ok) return kFailed;
    std::size_t removed = 0;
    for (const auto& file : oldFiles) {
        if (newPaths.count(file.relative)) continue;
        if (removed++ == 0) {
            err << "mkpatch: warning: packages cannot delete files; these stay on clients\n"
                   "mkpatch: that are not updated through a file index:\n";
        }
        err << "  " << file.relative.generic_string() << "\n";
    }
    out << "diff: " << added << " new, " << changed.size() - added << " changed, " << unchanged
        << " unchanged, " << removed << " only in the old tree\n";
    return WritePackage(output, changed, threads, out, err);
}

}  // namespace launcher::mkpatch

#include "transfer/apply_patch_package.h"

#include <memory>
#include <new>
#include <unordered_set>

#include "transfer/decompressor.h"
#include "transfer/package_format.h"

namespace launcher {

namespace {

// Plain new[] leaves the block uninitialised; zeroing hundreds of megabytes
// only to overwrite them costs as much as the decompression.
std::unique_ptr<unsigned char[]> TakeBlock(std::uint32_t size) {
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[size]);
}

ApplyResult Extract(const std::string& path, const unsigned char* payload,
                    std::uint32_t compressedSize, std::uint32_t uncompressedSize,
                    std::string& problem) {
    UncompressFunction uncompress = g_pfnUncompress;
    if (!uncompress) {
        problem = "no decompressor loaded";
        return ApplyResult::kLocalFailure;
    }
    auto output = TakeBlock(uncompressedSize);
    if (!output) {
        problem = "no memory for " + std::to_string(uncompressedSize) + " bytes";
        return ApplyResult::kLocalFailure;
    }
    unsigned long produced = uncompressedSize;
    int rc = uncompress(output.get(), &produced, payload, compressedSize);
    if (rc != 0) {
        problem = "the decompressor rejects the payload (" + std::to_string(rc) + ")";
        return ApplyResult::kDamagedPackage;
    }
    if (produced > uncompressedSize) {
        problem = "the decompressor reports more bytes than it had room for";
        return ApplyResult::kLocalFailure;
    }

    const std::string temporary = TemporaryPathFor(path);
    File file;
    if (!file.Open(temporary, File::Mode::kCreateAlways)) {
        problem = "cannot create " + temporary;
        return ApplyResult::kLocalFailure;
    }
    bool written = file.WriteAll(output.get(), produced);
    if (!file.Close() || !written) {
        RemoveFile(temporary);
        problem = "cannot write " + temporary;
        return ApplyResult::kLocalFailure;
    }
    // A replaced program must stay executable.
    CopyFileMode(path, temporary);
    if (!RenameFile(temporary, path)) {
        RemoveFile(temporary);
        problem = "cannot rename " + temporary + " to " + path;
        return ApplyResult::kLocalFailure;
    }
    return ApplyResult::kApplied;
}

ApplyResult FromReadStatus(ReadStatus status) {
    return status == ReadStatus::kDamaged ? ApplyResult::kDamagedPackage
                                          : ApplyResult::kLocalFailure;
}

// Creates every '/'-terminated leading part of `path`, shallow before deep.
// Parts made earlier in the same package are not asked for again; like the
// original walk, the results are ignored: a part that cannot be made shows up
// when the file is created.
class DirectoryWalk {
public:
    void MakeParents(const std::string& path) {
        for (std::size_t slash = path.find(kPathSeparator); slash != std::string::npos;
             slash = path.find(kPathSeparator, slash + 1)) {
            std::string prefix = path.substr(0, slash);
            if (made_.count(prefix)) continue;
            if (CreateDirectoryOnce(prefix)) made_.insert(std::move(prefix));
        }
    }

private:
    std::unordered_set<std::string> made_;
};

}  // namespace

// One fixed name per directory, which no entry may use: a crash leaves at most
// one leftover there, and the next write into that directory reuses it.
std::string TemporaryPathFor(const std::string& path) {
    std::size_t slash = path.rfind(kPathSeparator);
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
           kTemporaryFileName;
}

int ExtractPackageEntry(const std::string& name, const unsigned char* payload,
                        std::uint32_t compressedSize, std::uint32_t uncompressedSize) {
    std::string problem;
    return Extract(name, payload, compressedSize, uncompressedSize, problem) ==
                   ApplyResult::kApplied
               ? 1
               : 0;
}

ApplyResult ApplyPatchPackageWithResult(File& package, std::string* problem) {
    std::string scratch;
    std::string& why = problem ? *problem : scratch;
    why.clear();

    PackageReader reader(package);
    std::int32_t entryCount = 0;
    if (ReadStatus status = reader.ReadHeader(entryCount); status != ReadStatus::kOk) {
        why = reader.Problem();
        return FromReadStatus(status);
    }
    if (entryCount < 0) {
        why = "negative entry count " + std::to_string(entryCount);
        return ApplyResult::kDamagedPackage;
    }
    if (entryCount == 0) return ApplyResult::kApplied;
    if (!g_pfnUncompress) {
        why = "no decompressor loaded";
        return ApplyResult::kLocalFailure;
    }

    DirectoryWalk walk;
    PackageEntry entry;
    for (std::int32_t index = 0; index < entryCount; ++index) {
        // Built only on failure: a package may hold many thousands of entries.
        auto which = [&] {
            return "entry " + std::to_string(index + 1) + " of " + std::to_string(entryCount) +
                   ", ";
        };
        auto at = [&] {
            return which() + "'" + entry.name + "' at byte " + std::to_string(entry.offset) +
                   ": ";
        };
        if (ReadStatus status = reader.ReadEntry(entry); status != ReadStatus::kOk) {
            why = which() + reader.Problem();
            return FromReadStatus(status);
        }
        if (!IsSafeEntryName(entry.name)) {
            why = at() + "name refused";
            return ApplyResult::kDamagedPackage;
        }
        auto payload = TakeBlock(entry.compressedSize);
        if (!payload) {
            why = at() + "no memory for " + std::to_string(entry.compressedSize) + " bytes";
            return ApplyResult::kLocalFailure;
        }
        if (ReadStatus status = reader.ReadPayload(payload.get(), entry.compressedSize);
            status != ReadStatus::kOk) {
            why = at() + reader.Problem();
            return FromReadStatus(status);
        }
        const std::string path = ToLocalPath(entry.name);
        walk.MakeParents(path);
        std::string failure;
        ApplyResult result = Extract(path, payload.get(), entry.compressedSize,
                                     entry.uncompressedSize, failure);
        if (result != ApplyResult::kApplied) {
            why = at() + failure;
            return result;
        }
    }
    return ApplyResult::kApplied;
}

int ApplyPatchPackage(File& package) {
    return ApplyPatchPackageWithResult(package) == ApplyResult::kApplied ? 1 : 0;
}

}  // namespace launcher

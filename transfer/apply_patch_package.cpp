#include "transfer/apply_patch_package.h"

#include <limits>
#include <memory>
#include <new>
#include <thread>
#include <unordered_set>

#include "transfer/decompressor.h"
#include "transfer/entry_pipeline.h"
#include "transfer/package_format.h"

namespace launcher {

namespace {

// Bytes held between reading an entry and writing its file (compressed and
// decompressed), so that a slow write of one file does not hold up
// decompressing the next few. An entry larger than this is taken alone. With
// the allocator's own overhead on top, a process whose writes crawl peaks at
// about 55 MiB: within 64 MiB beyond the largest entry.
constexpr std::size_t kHeldLimit = std::size_t{40} << 20;
// Empty files take no bytes; bound them by count.
constexpr std::size_t kHeldEntries = 4096;
// Decompressing threads: one stream each, so a package of many entries keeps
// every core busy. Nothing is gained past a few: the writer is one thread.
constexpr unsigned kMostDecompressors = 4;

unsigned DecompressorCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0) return 1;
    return cores < kMostDecompressors ? cores : kMostDecompressors;
}

// Plain new[] leaves the block uninitialised; zeroing hundreds of megabytes
// only to overwrite them costs as much as the decompression.
Block TakeBlock(std::uint32_t size) {
    return Block(new (std::nothrow) unsigned char[size]);
}

ApplyResult Decompress(UncompressFunction uncompress, const unsigned char* payload,
                       std::uint32_t compressedSize, std::uint32_t uncompressedSize, Block& output,
                       std::size_t& produced, std::string& problem) {
    if (!uncompress) {
        problem = "no decompressor loaded";
        return ApplyResult::kLocalFailure;
    }
    const std::uint32_t capacity = OutputCapacity(uncompressedSize, compressedSize);
    output = TakeBlock(capacity);
    if (!output) {
        problem = "no memory for the " + std::to_string(capacity) + "-byte output block";
        return ApplyResult::kLocalFailure;
    }
    unsigned long count = capacity;
    int rc = uncompress(output.get(), &count, payload, compressedSize);
    if (rc != 0) {
        problem = "the decompressor rejects the payload (" + std::to_string(rc) + ")";
        return ApplyResult::kDamagedPackage;
    }
    if (count > capacity) {
        problem = "the decompressor reports more bytes than it had room for";
        return ApplyResult::kLocalFailure;
    }
    produced = count;
    return ApplyResult::kApplied;
}

// A program delivered as a new file must be able to start.
bool LooksLikeProgram(const unsigned char* data, std::size_t size) {
    return (size >= 4 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F') ||
           (size >= 2 && data[0] == '#' && data[1] == '!');
}

// A name the file system refuses is the package's fault; anything standing
// in the way is this machine's. `path` names what is in the way.
ApplyResult Judge(PathProblem why, const std::string& path, const std::string& action,
                  std::string& problem) {
    switch (why) {
        case PathProblem::kNone: return ApplyResult::kApplied;
        case PathProblem::kNameTooLong:
            problem = "a part of " + path + " is longer than the file system allows";
            return ApplyResult::kDamagedPackage;
        case PathProblem::kSymbolicLink:
            problem = path + " is a symbolic link; nothing is written through it";
            break;
        case PathProblem::kNotADirectory:
            problem = path + " is in the way: not a directory";
            break;
        case PathProblem::kIsADirectory:
            problem = path + " is in the way: a directory where the file goes";
            break;
        case PathProblem::kOther: problem = action; break;
    }
    return ApplyResult::kLocalFailure;
}

// Temporary file beside the target, then a rename: the old file or the new
// one, never a part. Not synced here; see SyncInstallation. A link standing at
// the target's name is replaced itself, never written through.
ApplyResult WriteInPlace(const std::string& path, const unsigned char* data, std::size_t size,
                         std::string& problem) {
    const std::string temporary = TemporaryPathFor(path);
    File file;
    if (!file.Open(temporary, LooksLikeProgram(data, size) ? File::Mode::kCreateFreshExecutable
                                                           : File::Mode::kCreateFresh)) {
        problem = "cannot create " + temporary;
        return ApplyResult::kLocalFailure;
    }
    bool written = file.WriteAll(data, size);
    if (!file.Close() || !written) {
        RemoveFile(temporary);
        problem = "cannot write " + temporary;
        return ApplyResult::kLocalFailure;
    }
    // A replaced file keeps its permissions.
    CopyFileMode(path, temporary);
    const PathProblem why = RenameFileOver(temporary, path);
    if (why != PathProblem::kNone) RemoveFile(temporary);
    return Judge(why, path, "cannot rename " + temporary + " to " + path, problem);
}

ApplyResult FromReadStatus(ReadStatus status) {
    return status == ReadStatus::kDamaged ? ApplyResult::kDamagedPackage
                                          : ApplyResult::kLocalFailure;
}

// Creates every '/'-terminated leading part of `path`, shallow before deep,
// never through a symbolic link. A directory made earlier in the same package
// is not walked again.
class DirectoryWalk {
public:
    ApplyResult MakeParents(const std::string& path, std::string& problem) {
        const std::size_t slash = path.rfind(kPathSeparator);
        if (slash == std::string::npos) return ApplyResult::kApplied;
        std::string directory = path.substr(0, slash);
        if (made_.count(directory)) return ApplyResult::kApplied;
        std::string blocker;
        const PathProblem why = CreateDirectoriesBelowHere(directory, blocker);
        if (why == PathProblem::kNone) made_.insert(std::move(directory));
        return Judge(why, blocker, "cannot create the directory " + blocker, problem);
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
    Block output;
    std::size_t produced = 0;
    if (Decompress(g_pfnUncompress, payload, compressedSize, uncompressedSize, output, produced,
                   problem) != ApplyResult::kApplied) {
        return 0;
    }
    return WriteInPlace(name, output.get(), produced, problem) == ApplyResult::kApplied ? 1 : 0;
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

    // Read once here: the decompressing threads share it.
    const UncompressFunction uncompress = g_pfnUncompress;
    // Only ever used by one thread at a time: the writer, or the caller when
    // there is no writer thread.
    DirectoryWalk walk;
    EntryPipeline pipeline(
        [uncompress](PipelineEntry& e) {
            try {
                e.result = Decompress(uncompress, e.payload.get(), e.compressedSize,
                                      e.uncompressedSize, e.data, e.size, e.problem);
            } catch (...) {
                // Nothing may leave a decompressing thread.
                e.result = ApplyResult::kLocalFailure;
                e.problem = "out of memory";
            }
        },
        [&walk](PipelineEntry& e, std::string& failure) {
            try {
                ApplyResult made = walk.MakeParents(e.path, failure);
                if (made != ApplyResult::kApplied) return made;
                return WriteInPlace(e.path, e.data.get(), e.size, failure);
            } catch (...) {
                failure = "out of memory";
                return ApplyResult::kLocalFailure;
            }
        },
        [&walk](const std::string& path) {
            try {
                std::string ignored;
                walk.MakeParents(path, ignored);
            } catch (...) {
                // Only directories for an entry that failed anyway.
            }
        },
        kHeldLimit, kHeldEntries, DecompressorCount());

    // A failure of reading comes after every entry handed over; one of theirs,
    // being earlier, is the one reported.
    ApplyResult readResult = ApplyResult::kApplied;
    std::string readProblem;
    auto stop = [&](ApplyResult result, std::string text) {
        readResult = result;
        readProblem = std::move(text);
    };
    PackageEntry entry;
    for (std::int32_t index = 0; index < entryCount; ++index) {
        auto which = [&] {
            return "entry " + std::to_string(index + 1) + " of " + std::to_string(entryCount) +
                   ", ";
        };
        auto at = [&] {
            return which() + "'" + entry.name + "' at byte " + std::to_string(entry.offset) + ": ";
        };
        if (ReadStatus status = reader.ReadEntry(entry); status != ReadStatus::kOk) {
            stop(FromReadStatus(status), which() + reader.Problem());
            break;
        }
        std::string path = IsSafeEntryName(entry.name) ? ToLocalPath(entry.name) : std::string();
        if (path.empty()) {
            stop(ApplyResult::kDamagedPackage, at() + "name refused");
            break;
        }
        // In 64 bits: a 32-bit size_t could wrap. A size this process cannot
        // hold is this machine's limit, not damage.
        const std::uint64_t wanted =
            std::uint64_t{entry.compressedSize} +
            OutputCapacity(entry.uncompressedSize, entry.compressedSize);
        if (wanted > std::numeric_limits<std::size_t>::max()) {
            stop(ApplyResult::kLocalFailure,
                 at() + std::to_string(wanted) + " bytes cannot be held in memory here");
            break;
        }
        const auto bytes = static_cast<std::size_t>(wanted);
        if (!pipeline.Admit(bytes)) break;
        auto item = std::make_unique<PipelineEntry>();
        item->payload = TakeBlock(entry.compressedSize);
        if (!item->payload) {
            pipeline.Cancel(bytes);
            stop(ApplyResult::kLocalFailure,
                 at() + "no memory for the " + std::to_string(entry.compressedSize) +
                     "-byte payload block");
            break;
        }
        if (ReadStatus status = reader.ReadPayload(item->payload.get(), entry.compressedSize);
            status != ReadStatus::kOk) {
            pipeline.Cancel(bytes);
            stop(FromReadStatus(status), at() + reader.Problem());
            break;
        }
        item->path = std::move(path);
        item->where = at();
        item->compressedSize = entry.compressedSize;
        item->uncompressedSize = entry.uncompressedSize;
        pipeline.Add(std::move(item));
    }
    if (ApplyResult result = pipeline.Finish(why); result != ApplyResult::kApplied) return result;
    why = readProblem;
    return readResult;
}

int ApplyPatchPackage(File& package) {
    return ApplyPatchPackageWithResult(package) == ApplyResult::kApplied ? 1 : 0;
}

}  // namespace launcher

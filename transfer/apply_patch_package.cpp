#include "transfer/apply_patch_package.h"

#include <atomic>
#include <memory>
#include <new>
#include <thread>
#include <unordered_set>

#include "platform/file_mapping.h"
#include "transfer/decompressor.h"
#include "transfer/entry_pipeline.h"
#include "transfer/package_format.h"

namespace launcher {

namespace {

// The ring entries pass through between reading and writing, so that a slow
// write of one file does not hold up decompressing the next few, and nothing
// is taken fresh per entry. Large outputs and payloads stay out of it (below),
// so it holds a few entries below 4 MiB at once; larger rings only took more
// fresh memory (bench/README.md). What does not fit, an unmapped payload
// larger than the ring, is taken alone in memory of its own.
constexpr std::size_t kRingBytes = std::size_t{16} << 20;
// Outputs from this size on are decompressed straight into the file's pages
// (on the writer, in package order) rather than into the ring and written.
constexpr std::uint32_t kIntoFileFrom = std::uint32_t{4} << 20;
// Their payloads from this size on are read by mapping the package where they
// lie (by the writer, when it comes to them) instead of copying them. A 32-bit
// process maps none larger than kMostMappedPayload, for want of address space.
constexpr std::uint32_t kPayloadMappedFrom = std::uint32_t{1} << 20;
constexpr std::uint32_t kMostMappedPayload =
    sizeof(void*) < 8 ? std::uint32_t{256} << 20 : ~std::uint32_t{0};
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
Block TakeBlock(std::size_t size) {
    return Block(new (std::nothrow) unsigned char[size]);
}

std::string NoMemoryFor(std::uint64_t bytes, const char* what) {
    return "no memory for the " + std::to_string(bytes) + "-byte " + what;
}

ApplyResult DecompressInto(UncompressFunction uncompress, const unsigned char* payload,
                           std::uint32_t compressedSize, unsigned char* output,
                           std::uint32_t capacity, std::size_t& produced, std::string& problem) {
    if (!uncompress) {
        problem = "no decompressor loaded";
        return ApplyResult::kLocalFailure;
    }
    unsigned long count = capacity;
    int rc = uncompress(output, &count, payload, compressedSize);
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

// Whether `size` bytes at `data` are what `expected` says; a mismatch is the
// package's fault.
ApplyResult CheckExpected(const ExpectedEntry* expected, const ContentHashMaker* newHash,
                          const unsigned char* data, std::size_t size, std::string& problem) {
    if (!expected) return ApplyResult::kApplied;
    if (size != expected->size) {
        problem = "inflates to " + std::to_string(size) + " bytes, the file index says " +
                  std::to_string(expected->size);
        return ApplyResult::kDamagedPackage;
    }
    std::unique_ptr<IContentHash> hash = newHash && *newHash ? (*newHash)() : nullptr;
    if (!hash) {
        problem = "no SHA-256 to check it with";
        return ApplyResult::kLocalFailure;
    }
    hash->Update(data, size);
    if (hash->FinishHex() != expected->sha256) {
        problem = "SHA-256 does not match the file index";
        return ApplyResult::kDamagedPackage;
    }
    return ApplyResult::kApplied;
}

// A new file that starts like a POSIX program or script gets the execute
// bits, so that a program delivered as a new file can start.
bool NeedsExecuteBits(const unsigned char* data, std::size_t size) {
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

// How the writer puts new files in place. A file without a name, named once
// it is whole, costs one directory change where a temporary and a rename cost
// three; it serves only where nothing stands at the name yet, so the writer
// goes the temporary's way after it found a file there, and back after it
// found none.
// Read by the decompressing threads, which write such files ahead of the
// writer (PrepareUnnamed).
struct NewFileWay {
    std::atomic<bool> unnamedWorks{true};  // until the system says otherwise
    std::atomic<bool> expectNew{true};     // the last file written had no predecessor
};

// Writes `size` bytes into a new file without a name, made in the directory
// that is to hold `path` or, while that does not exist yet, in the
// installation's own (linked across later). False, with nothing left, when
// that cannot be done here.
bool WriteUnnamedFile(File& file, const std::string& path, const unsigned char* data,
                      std::size_t size, NewFileWay& way) {
    const bool executable = NeedsExecuteBits(data, size);
    if (!file.OpenUnnamedFor(path, executable) &&
        !file.OpenUnnamedFor(kTemporaryFileName, executable)) {
        way.unnamedWorks = false;
        return false;
    }
    if (file.WriteAll(data, size)) return true;
    file.Close();
    return false;
}

// Gives a file written by WriteUnnamedFile its name. False, with the file
// dropped, when something stands at the name already or the name cannot be
// given: the temporary's way then does it.
bool NameUnnamedFile(File& file, const std::string& path, NewFileWay& way) {
    if (!file.NameAs(path)) {
        file.Close();
        way.expectNew = false;
        return false;
    }
    if (file.Close()) return true;
    RemoveFile(path);
    return false;
}

// Writes a file nobody held before as an unnamed file, named when whole.
// False, with nothing changed, when that cannot be done here.
bool WriteUnnamed(const std::string& path, const unsigned char* data, std::size_t size,
                  NewFileWay& way) {
    File file;
    return WriteUnnamedFile(file, path, data, size, way) && NameUnnamedFile(file, path, way);
}

// Temporary file beside the target, then a rename: the old file or the new
// one, never a part. Not synced here; see SyncInstallation. A link standing at
// the target's name is replaced itself, never written through. With `way`, a
// name nothing holds yet may get an unnamed file instead (above).
ApplyResult WriteInPlace(const std::string& path, const unsigned char* data, std::size_t size,
                         std::string& problem, NewFileWay* way = nullptr) {
    if (way && way->unnamedWorks && way->expectNew && WriteUnnamed(path, data, size, *way))
        return ApplyResult::kApplied;
    const bool executable = NeedsExecuteBits(data, size);
    const std::string temporary = TemporaryPathFor(path);
    File file;
    if (!file.Open(temporary,
                   executable ? File::Mode::kCreateFreshExecutable : File::Mode::kCreateFresh)) {
        problem = "cannot create " + temporary + ": " + file.Problem();
        return ApplyResult::kLocalFailure;
    }
    bool written = file.WriteAll(data, size);
    // A replaced file keeps its permissions.
    const bool replaces = file.TakeModeOf(path);
    if (way) way->expectNew = !replaces;
    if (!file.Close() || !written) {
        RemoveFile(temporary);
        problem = "cannot write " + temporary;
        return ApplyResult::kLocalFailure;
    }
    const PathProblem why = RenameFileOver(temporary, path);
    if (why != PathProblem::kNone) RemoveFile(temporary);
    return Judge(why, path, "cannot rename " + temporary + " to " + path, problem);
}

// Decompresses into a block of its own and writes it.
ApplyResult ExtractThroughMemory(UncompressFunction uncompress, const std::string& path,
                                 const unsigned char* payload, std::uint32_t compressedSize,
                                 std::uint32_t capacity, std::string& problem,
                                 const ExpectedEntry* expected = nullptr,
                                 const ContentHashMaker* newHash = nullptr) {
    Block output = TakeBlock(capacity);
    if (!output) {
        problem = NoMemoryFor(capacity, "output block");
        return ApplyResult::kLocalFailure;
    }
    std::size_t produced = 0;
    const ApplyResult result =
        DecompressInto(uncompress, payload, compressedSize, output.get(), capacity, produced,
                       problem);
    if (result != ApplyResult::kApplied) return result;
    if (ApplyResult checked = CheckExpected(expected, newHash, output.get(), produced, problem);
        checked != ApplyResult::kApplied)
        return checked;
    return WriteInPlace(path, output.get(), produced, problem);
}

// Decompresses straight into the temporary file's pages: the file is created
// at the capacity, the decompressor called once into it, the file cut to what
// it reports, then renamed as any other. Where the file cannot be mapped, the
// entry goes through memory after all.
ApplyResult ExtractIntoFile(UncompressFunction uncompress, const std::string& path,
                            const unsigned char* payload, std::uint32_t compressedSize,
                            std::uint32_t capacity, std::string& problem,
                            const ExpectedEntry* expected = nullptr,
                            const ContentHashMaker* newHash = nullptr) {
    if (!uncompress) {
        problem = "no decompressor loaded";
        return ApplyResult::kLocalFailure;
    }
    const std::string temporary = TemporaryPathFor(path);
    MappedNewFile::Created created;
    ApplyResult result = ApplyResult::kApplied;
    {
        MappedNewFile file;
        created = file.Create(temporary, capacity);
        if (created == MappedNewFile::Created::kNotCreated) {
            problem = "cannot create " + temporary;
            return ApplyResult::kLocalFailure;
        }
        std::size_t produced = 0;
        if (created == MappedNewFile::Created::kMapped) {
            result = DecompressInto(uncompress, payload, compressedSize, file.Data(), capacity,
                                    produced, problem);
            if (result == ApplyResult::kApplied)
                result = CheckExpected(expected, newHash, file.Data(), produced, problem);
        }
        // A replaced file keeps its permissions.
        if (result == ApplyResult::kApplied && created == MappedNewFile::Created::kMapped &&
            !file.Finish(produced, NeedsExecuteBits(file.Data(), produced), path)) {
            problem = "cannot write " + temporary;
            result = ApplyResult::kLocalFailure;
        }
    }  // unmapped and closed
    if (created == MappedNewFile::Created::kNotMapped) {
        RemoveFile(temporary);
        return ExtractThroughMemory(uncompress, path, payload, compressedSize, capacity, problem,
                                    expected, newHash);
    }
    if (result != ApplyResult::kApplied) {
        RemoveFile(temporary);
        return result;
    }
    const PathProblem why = RenameFileOver(temporary, path);
    if (why != PathProblem::kNone) RemoveFile(temporary);
    return Judge(why, path, "cannot rename " + temporary + " to " + path, problem);
}

// Decompresses an entry straight into the pages of a new file without a name,
// made beside `path` (ExtractIntoFile's way), and hands it to `unnamed` to be
// named. False, with nothing left, when no such file can be made here;
// otherwise `result` says how the entry's bytes came out.
bool DecompressIntoUnnamed(UncompressFunction uncompress, const unsigned char* payload,
                           std::uint32_t compressedSize, std::uint32_t capacity,
                           const std::string& path, const ExpectedEntry* expected,
                           const ContentHashMaker* newHash, File& unnamed, ApplyResult& result,
                           std::string& problem) {
    MappedNewFile file;
    if (file.CreateUnnamedFor(path, capacity) != MappedNewFile::Created::kMapped &&
        file.CreateUnnamedFor(kTemporaryFileName, capacity) != MappedNewFile::Created::kMapped)
        return false;
    std::size_t produced = 0;
    result = DecompressInto(uncompress, payload, compressedSize, file.Data(), capacity, produced,
                            problem);
    if (result == ApplyResult::kApplied)
        result = CheckExpected(expected, newHash, file.Data(), produced, problem);
    if (result != ApplyResult::kApplied) return true;
    return file.FinishUnnamed(produced, NeedsExecuteBits(file.Data(), produced), unnamed);
}

// A large new file decompressed ahead of its turn into a file without a name,
// left for the writer to name. Whatever goes wrong is left to the writer too,
// which does the entry again and tells why.
void DecompressUnnamed(UncompressFunction uncompress, const File& package, PipelineEntry& e) {
    // A file that stands already is replaced the temporary's way.
    if (PathExists(e.path)) return;
    MappedFileRegion view;
    const unsigned char* payload = e.payload;
    if (!payload) {
        if (!view.Map(package, e.payloadAt, e.compressedSize)) return;
        payload = view.Data();
    }
    ApplyResult result;
    std::string ignored;
    DecompressIntoUnnamed(uncompress, payload, e.compressedSize, e.capacity, e.path, e.expected,
                          e.newHash, e.unnamed, result, ignored);
}

// The writer's part of a large entry, decompressed into the file's pages.
// Where nothing stands at the name the file is made without a name (or was,
// ahead of the writer) and named when whole; otherwise, or where that cannot
// be done, it goes the temporary's way. Which way is taken depends only on
// what the writer finds, never on how far the other threads got, so every run
// makes the same calls on the installation.
ApplyResult WriteLargeEntry(UncompressFunction uncompress, const File& package, PipelineEntry& e,
                            NewFileWay& way, std::string& failure) {
    MappedFileRegion view;
    const unsigned char* payload = e.payload;
    auto mapPayload = [&] {
        if (payload) return true;
        if (!view.Map(package, e.payloadAt, e.compressedSize)) {
            failure = "cannot map its " + std::to_string(e.compressedSize) + "-byte payload";
            return false;
        }
        payload = view.Data();
        return true;
    };
    const bool fresh = way.unnamedWorks && !PathExists(e.path);
    way.expectNew = fresh;
    if (!fresh) {
        e.unnamed.Close();
    } else if (!e.unnamed.IsOpen()) {
        if (!mapPayload()) return ApplyResult::kLocalFailure;
        ApplyResult result = ApplyResult::kApplied;
        if (!DecompressIntoUnnamed(uncompress, payload, e.compressedSize, e.capacity, e.path,
                                   e.expected, e.newHash, e.unnamed, result, failure))
            way.unnamedWorks = false;
        else if (result != ApplyResult::kApplied)
            return result;
    }
    if (e.unnamed.IsOpen() && NameUnnamedFile(e.unnamed, e.path, way))
        return ApplyResult::kApplied;
    if (!mapPayload()) return ApplyResult::kLocalFailure;
    return ExtractIntoFile(uncompress, e.path, payload, e.compressedSize, e.capacity, failure,
                           e.expected, e.newHash);
}

ApplyResult Extract(UncompressFunction uncompress, const std::string& path,
                    const unsigned char* payload, std::uint32_t compressedSize,
                    std::uint32_t capacity, std::string& problem) {
    return capacity >= kIntoFileFrom
               ? ExtractIntoFile(uncompress, path, payload, compressedSize, capacity, problem)
               : ExtractThroughMemory(uncompress, path, payload, compressedSize, capacity,
                                      problem);
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
    return Extract(g_pfnUncompress, name, payload, compressedSize,
                   OutputCapacity(uncompressedSize, compressedSize),
                   problem) == ApplyResult::kApplied
               ? 1
               : 0;
}

ApplyResult ApplyPatchPackageWithResult(File& package, std::string* problem,
                                        const ApplyExpectations* expected) {
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
    if (expected && static_cast<std::size_t>(entryCount) != expected->entries.size()) {
        why = "holds " + std::to_string(entryCount) + " entries, " +
              std::to_string(expected->entries.size()) + " expected";
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
    NewFileWay way;
    EntryPipeline pipeline(
        [uncompress](PipelineEntry& e) {
            // An output that goes straight into its file is decompressed by the writer.
            if (!e.output) return;
            try {
                e.result = DecompressInto(uncompress, e.payload, e.compressedSize, e.output,
                                          e.capacity, e.size, e.problem);
                if (e.result == ApplyResult::kApplied)
                    e.result = CheckExpected(e.expected, e.newHash, e.output, e.size, e.problem);
            } catch (...) {
                // Nothing may leave a decompressing thread.
                e.result = ApplyResult::kLocalFailure;
                e.problem = "out of memory";
            }
        },
        [&walk, &way, &package, uncompress](PipelineEntry& e, std::string& failure) {
            try {
                ApplyResult made = walk.MakeParents(e.path, failure);
                if (made != ApplyResult::kApplied) return made;
                if (!e.output) return WriteLargeEntry(uncompress, package, e, way, failure);
                // Named only where the writer itself would write it unnamed.
                if (e.unnamed.IsOpen() && way.unnamedWorks && way.expectNew &&
                    NameUnnamedFile(e.unnamed, e.path, way))
                    return ApplyResult::kApplied;
                e.unnamed.Close();
                return WriteInPlace(e.path, e.output, e.size, failure, &way);
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
        [&way, &package, uncompress](PipelineEntry& e) {
            // A new file's bytes go into a file without a name ahead of the
            // entry's turn; the writer then only names it.
            if (e.result != ApplyResult::kApplied || !way.unnamedWorks || !way.expectNew) return;
            try {
                if (e.output) {
                    WriteUnnamedFile(e.unnamed, e.path, e.output, e.size, way);
                } else if (e.capacity > 0) {
                    DecompressUnnamed(uncompress, package, e);
                }
            } catch (...) {
                // The writer does it all.
            }
        },
        kRingBytes, kHeldEntries, DecompressorCount());

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
        const ExpectedEntry* expectedEntry =
            expected ? &expected->entries[static_cast<std::size_t>(index)] : nullptr;
        if (expectedEntry && expectedEntry->name != entry.name) {
            stop(ApplyResult::kDamagedPackage, at() + "the file index expects '" +
                                                   expectedEntry->name + "' there");
            break;
        }
        auto item = std::make_unique<PipelineEntry>();
        item->compressedSize = entry.compressedSize;
        item->capacity = OutputCapacity(entry.uncompressedSize, entry.compressedSize);
        // A large output, or one the ring cannot hold, goes straight into its
        // file, and a large payload stays in the package until then: never a
        // copy of a large entry in memory.
        const bool intoFile =
            item->capacity > 0 &&
            (item->capacity >= kIntoFileFrom ||
             std::uint64_t{item->compressedSize} + item->capacity > kRingBytes);
        const bool payloadInPackage = intoFile && item->compressedSize >= kPayloadMappedFrom &&
                                      item->compressedSize <= kMostMappedPayload;
        const std::size_t bytes = (payloadInPackage ? 0 : std::size_t{item->compressedSize}) +
                                  (intoFile ? 0 : item->capacity);
        if (!pipeline.Admit(bytes, item->region)) break;
        ReadStatus status = ReadStatus::kOk;
        if (payloadInPackage) {
            status = reader.PassPayload(entry.compressedSize, item->payloadAt);
        } else {
            item->payload = item->region;
            if (!item->payload) {
                item->own = TakeBlock(bytes);
                item->payload = item->own.get();
            }
            if (!item->payload) {
                pipeline.Cancel();
                stop(ApplyResult::kLocalFailure, at() + NoMemoryFor(bytes, "block"));
                break;
            }
            if (!intoFile) item->output = item->payload + item->compressedSize;
            status = reader.ReadPayload(item->payload, entry.compressedSize);
        }
        if (status != ReadStatus::kOk) {
            pipeline.Cancel();
            stop(FromReadStatus(status), at() + reader.Problem());
            break;
        }
        item->path = std::move(path);
        item->where = at();
        item->expected = expectedEntry;
        item->newHash = expected ? &expected->newHash : nullptr;
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

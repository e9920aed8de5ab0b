#include "transfer/apply_patch_package.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_set>

#include "transfer/decompressor.h"
#include "transfer/package_format.h"

namespace launcher {

namespace {

// Decompressed entries wait for the writer in a queue of at most this many
// bytes (the one being written included), so that a slow write of one file
// does not hold up decompressing the next few. An entry larger than this is
// written before the next is taken: memory stays within one entry's blocks
// and this limit.
constexpr std::size_t kQueueLimit = std::size_t{32} << 20;
// Empty files take no bytes; bound them by count.
constexpr std::size_t kQueueEntries = 4096;

using Block = std::unique_ptr<unsigned char[]>;

// Plain new[] leaves the block uninitialised; zeroing hundreds of megabytes
// only to overwrite them costs as much as the decompression.
Block TakeBlock(std::uint32_t size) { return Block(new (std::nothrow) unsigned char[size]); }

ApplyResult Decompress(const unsigned char* payload, std::uint32_t compressedSize,
                       std::uint32_t uncompressedSize, Block& output, std::size_t& produced,
                       std::string& problem) {
    UncompressFunction uncompress = g_pfnUncompress;
    if (!uncompress) {
        problem = "no decompressor loaded";
        return ApplyResult::kLocalFailure;
    }
    output = TakeBlock(uncompressedSize);
    if (!output) {
        problem = "no memory for " + std::to_string(uncompressedSize) + " bytes";
        return ApplyResult::kLocalFailure;
    }
    unsigned long count = uncompressedSize;
    int rc = uncompress(output.get(), &count, payload, compressedSize);
    if (rc != 0) {
        problem = "the decompressor rejects the payload (" + std::to_string(rc) + ")";
        return ApplyResult::kDamagedPackage;
    }
    if (count > uncompressedSize) {
        problem = "the decompressor reports more bytes than it had room for";
        return ApplyResult::kLocalFailure;
    }
    produced = count;
    return ApplyResult::kApplied;
}

// Temporary file beside the target, then a rename: the old file or the new
// one, never a part. Not synced here; see SyncInstallation.
ApplyResult WriteInPlace(const std::string& path, const unsigned char* data, std::size_t size,
                         std::string& problem) {
    const std::string temporary = TemporaryPathFor(path);
    File file;
    if (!file.Open(temporary, File::Mode::kCreateAlways)) {
        problem = "cannot create " + temporary;
        return ApplyResult::kLocalFailure;
    }
    bool written = file.WriteAll(data, size);
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
// Parts made earlier in the same package are not asked for again. The results
// are ignored: a part that cannot be made shows up when the file is created.
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

// Writes decompressed entries, one at a time and in package order, on a second
// thread, so that writing overlaps decompressing the entries after it. After
// the first failure nothing more is written. Without a thread it writes inline.
class EntryWriter {
public:
    struct Job {
        std::string path;
        Block data;
        std::size_t size = 0;      // bytes to write
        std::size_t capacity = 0;  // bytes held by data, counted against the queue's limit
        std::string where;         // for the problem text
    };

    EntryWriter() {
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (...) {
            // No second thread: every job is written by Submit itself.
        }
    }

    ~EntryWriter() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    // Queues `job` once there is room for it; false (job dropped) when an
    // earlier job failed.
    bool Submit(Job job) {
        if (!thread_.joinable()) {
            std::string problem;
            ApplyResult result = Write(job, problem);
            if (result != ApplyResult::kApplied) Fail(result, std::move(problem));
            return failure_ == ApplyResult::kApplied;
        }
        const std::size_t size = job.capacity;
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [&] {
            return failure_ != ApplyResult::kApplied || Drained() ||
                   (queuedBytes_ + size <= kQueueLimit && jobs_.size() < kQueueEntries);
        });
        if (failure_ != ApplyResult::kApplied) return false;
        queuedBytes_ += size;
        jobs_.push_back(std::move(job));
        wake_.notify_all();
        if (size > kQueueLimit) idle_.wait(lock, [this] { return Drained(); });
        return true;
    }

    // Waits for the last job; the first failure, if any.
    ApplyResult Finish(std::string& problem) {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return Drained(); });
        if (failure_ != ApplyResult::kApplied) problem = problem_;
        return failure_;
    }

    // Only between Finish and the next Submit.
    void MakeParents(const std::string& path) { walk_.MakeParents(path); }

private:
    bool Drained() const { return jobs_.empty() && !busy_; }

    void Fail(ApplyResult result, std::string problem) {
        if (failure_ != ApplyResult::kApplied) return;
        failure_ = result;
        problem_ = std::move(problem);
    }

    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !jobs_.empty() || stop_; });
            if (jobs_.empty()) return;
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
            // After a failure the rest is dropped unwritten.
            const bool write = failure_ == ApplyResult::kApplied;
            lock.unlock();
            std::string problem;
            ApplyResult result = write ? Write(job, problem) : ApplyResult::kApplied;
            lock.lock();
            if (result != ApplyResult::kApplied) Fail(result, std::move(problem));
            busy_ = false;
            queuedBytes_ -= job.capacity;
            idle_.notify_all();
        }
    }

    // Runs on the writer thread, or inline; touches only the job and walk_.
    ApplyResult Write(Job& job, std::string& problem) {
        ApplyResult result = ApplyResult::kLocalFailure;
        try {
            walk_.MakeParents(job.path);
            result = WriteInPlace(job.path, job.data.get(), job.size, problem);
        } catch (...) {
            problem = "out of memory";
        }
        // Released before the writer takes the next job.
        job.data.reset();
        if (result != ApplyResult::kApplied) problem = job.where + problem;
        return result;
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Job> jobs_;
    std::size_t queuedBytes_ = 0;  // of jobs_ and the job being written
    bool busy_ = false;
    bool stop_ = false;
    ApplyResult failure_ = ApplyResult::kApplied;
    std::string problem_;
    DirectoryWalk walk_;
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
    if (Decompress(payload, compressedSize, uncompressedSize, output, produced, problem) !=
        ApplyResult::kApplied) {
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

    EntryWriter writer;
    // A failure here comes after every entry handed to the writer: the
    // writer's own failure, being earlier, is the one to report.
    auto fail = [&](ApplyResult result, std::string text) {
        if (ApplyResult earlier = writer.Finish(why); earlier != ApplyResult::kApplied) {
            return earlier;
        }
        why = std::move(text);
        return result;
    };
    PackageEntry entry;
    for (std::int32_t index = 0; index < entryCount; ++index) {
        auto which = [&] {
            return "entry " + std::to_string(index + 1) + " of " + std::to_string(entryCount) +
                   ", ";
        };
        auto at = [&] {
            return which() + "'" + entry.name + "' at byte " + std::to_string(entry.offset) +
                   ": ";
        };
        if (ReadStatus status = reader.ReadEntry(entry); status != ReadStatus::kOk) {
            return fail(FromReadStatus(status), which() + reader.Problem());
        }
        if (!IsSafeEntryName(entry.name)) {
            return fail(ApplyResult::kDamagedPackage, at() + "name refused");
        }
        auto payload = TakeBlock(entry.compressedSize);
        if (!payload) {
            return fail(ApplyResult::kLocalFailure,
                        at() + "no memory for " + std::to_string(entry.compressedSize) + " bytes");
        }
        if (ReadStatus status = reader.ReadPayload(payload.get(), entry.compressedSize);
            status != ReadStatus::kOk) {
            return fail(FromReadStatus(status), at() + reader.Problem());
        }
        Block output;
        std::size_t produced = 0;
        std::string failure;
        if (ApplyResult result = Decompress(payload.get(), entry.compressedSize,
                                            entry.uncompressedSize, output, produced, failure);
            result != ApplyResult::kApplied) {
            // The entry's directories are made before its file is tried, as
            // when nothing overlaps; only once every earlier file is written.
            if (ApplyResult earlier = writer.Finish(why); earlier != ApplyResult::kApplied) {
                return earlier;
            }
            writer.MakeParents(ToLocalPath(entry.name));
            why = at() + failure;
            return result;
        }
        payload.reset();
        EntryWriter::Job job{ToLocalPath(entry.name), std::move(output), produced,
                             entry.uncompressedSize, at()};
        if (!writer.Submit(std::move(job))) break;
    }
    return writer.Finish(why);
}

int ApplyPatchPackage(File& package) {
    return ApplyPatchPackageWithResult(package) == ApplyResult::kApplied ? 1 : 0;
}

}  // namespace launcher

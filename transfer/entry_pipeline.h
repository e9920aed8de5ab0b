// The threads behind the package applier: entries read in package order are
// decompressed on several threads at once and written by one writer, strictly
// in package order, with the bytes held in between bounded.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transfer/apply_patch_package.h"

namespace launcher {

using Block = std::unique_ptr<unsigned char[]>;

// One entry on its way from the package to its file.
struct PipelineEntry {
    std::string path;   // local path, already checked
    std::string where;  // "entry k of n, 'name' at byte b: " for problem texts
    Block payload;      // compressed bytes, released once decompressed
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    Block data;                                  // decompressed bytes, released once written
    std::size_t size = 0;                        // of data
    ApplyResult result = ApplyResult::kApplied;  // of the decompression
    std::string problem;
};

class EntryPipeline {
public:
    // Decompresses entry.payload into entry.data/size, or sets result and problem.
    using DecompressStep = std::function<void(PipelineEntry&)>;
    // Puts entry.data in place at entry.path; sets problem on failure.
    using WriteStep = std::function<ApplyResult(PipelineEntry&, std::string&)>;
    // Makes the directories above a path (for an entry that failed to decompress).
    using ParentsStep = std::function<void(const std::string&)>;

    // Held bytes (compressed and decompressed, counted from when an entry is
    // admitted until it is written) stay under `byteLimit`, except that an
    // entry larger than it is admitted alone. `decompressors` threads, and one
    // writer; with no threads at all every step runs inside Add.
    EntryPipeline(DecompressStep decompress, WriteStep write, ParentsStep parents,
                  std::size_t byteLimit, std::size_t entryLimit, unsigned decompressors);
    ~EntryPipeline();
    EntryPipeline(const EntryPipeline&) = delete;
    EntryPipeline& operator=(const EntryPipeline&) = delete;

    // Waits until an entry of `bytes` fits. False when an entry already
    // failed: nothing more will be written, so stop reading.
    bool Admit(std::size_t bytes);
    // Hands over the entry that was last admitted (payload already read).
    void Add(std::unique_ptr<PipelineEntry> entry);
    // Gives back an admission that was not followed by Add.
    void Cancel(std::size_t bytes);
    // Waits until every entry is written or dropped after a failure. Returns
    // the first failure in package order, with its problem text.
    ApplyResult Finish(std::string& problem);

private:
    struct Slot {
        std::unique_ptr<PipelineEntry> entry;
        std::size_t held = 0;  // bytes still counted against the limit
        bool decompressed = false;
    };

    void Decompressor();
    void Writer();
    // Both run with `lock` held and drop it around the step itself.
    void DecompressNext(std::unique_lock<std::mutex>& lock);
    void WriteFront(std::unique_lock<std::mutex>& lock);
    void Release(Slot& slot, std::size_t bytes);

    DecompressStep decompress_;
    WriteStep write_;
    ParentsStep parents_;
    const std::size_t byteLimit_;
    const std::size_t entryLimit_;

    std::mutex mutex_;
    std::condition_variable work_;   // decompressors: an entry to take, or stop
    std::condition_variable ready_;  // writer: the next entry decompressed, or stop
    std::condition_variable room_;   // caller: bytes released, or all written
    std::deque<Slot> slots_;         // entries added and not yet written, in order
    std::uint64_t added_ = 0;        // entries added so far
    std::uint64_t written_ = 0;      // entries written or dropped (slots_ starts here)
    std::uint64_t taken_ = 0;        // entries taken by a decompressor
    std::size_t held_ = 0;
    std::size_t admitted_ = 0;  // bytes of the admission not yet added
    // The first entry known to fail (to decompress, or to be written): nothing
    // after it is decompressed, admitted or written.
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    std::uint64_t brokenAt_ = kNone;
    bool stop_ = false;
    ApplyResult failure_ = ApplyResult::kApplied;
    std::string problem_;
    std::vector<std::thread> decompressors_;
    std::thread writer_;
};

}  // namespace launcher

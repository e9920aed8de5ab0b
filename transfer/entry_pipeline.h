// The threads behind the package applier: entries read in package order are
// decompressed on several threads at once and written by one writer, strictly
// in package order. The bytes in between live in one ring of memory reused
// from entry to entry.
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

#include "platform/files.h"
#include "transfer/apply_patch_package.h"
#include "transfer/block_ring.h"

namespace launcher {

using Block = std::unique_ptr<unsigned char[]>;

// One entry on its way from the package to its file.
struct PipelineEntry {
    std::string path;   // local path, already checked
    std::string where;  // "entry k of n, 'name' at byte b: " for problem texts
    // The region admitted for the entry (its payload first), or null for an
    // entry larger than the ring, whose steps take memory of their own.
    unsigned char* region = nullptr;
    Block own;                                // that memory, released once written
    unsigned char* payload = nullptr;  // compressed bytes; null while in the package
    std::uint64_t payloadAt = 0;       // its position in the package file
    std::uint32_t compressedSize = 0;
    std::uint32_t capacity = 0;  // output capacity for the decompressor
    // Where the decompressor writes, after the payload; null when the write
    // step decompresses straight into the file's pages instead.
    unsigned char* output = nullptr;
    std::size_t size = 0;                        // bytes decompressed into output
    ApplyResult result = ApplyResult::kApplied;  // of the decompression
    std::string problem;
    // What the file must hold (null: anything), and the hash to check it with.
    const ExpectedEntry* expected = nullptr;
    const ContentHashMaker* newHash = nullptr;
    // The output already written to a file without a name, which the writer
    // only has to name (see EarlyStep); closed unless open.
    File unnamed;
};

class EntryPipeline {
public:
    // Decompresses the entry into data/size, or sets result and problem.
    using DecompressStep = std::function<void(PipelineEntry&)>;
    // Puts the entry in place at entry.path; sets problem on failure.
    using WriteStep = std::function<ApplyResult(PipelineEntry&, std::string&)>;
    // Makes the directories above a path (for an entry that failed to decompress).
    using ParentsStep = std::function<void(const std::string&)>;
    // Does what of the write can be done before the entry's turn, on a
    // decompressing thread that has nothing to decompress: decompressed
    // entries just ahead of the writer pass through it in package order.
    // Nothing it does may be seen in the installation before the write step.
    using EarlyStep = std::function<void(PipelineEntry&)>;

    // Entries take regions of a ring of `ringBytes` from admission until they
    // are written; an entry larger than the ring is admitted alone.
    // `decompressors` threads, and one writer; with no threads at all every
    // step runs inside Add.
    EntryPipeline(DecompressStep decompress, WriteStep write, ParentsStep parents,
                  EarlyStep early, std::size_t ringBytes, std::size_t entryLimit,
                  unsigned decompressors);
    ~EntryPipeline();
    EntryPipeline(const EntryPipeline&) = delete;
    EntryPipeline& operator=(const EntryPipeline&) = delete;

    // Waits until an entry of `bytes` fits and sets `region` to its bytes, or
    // to null when the entry is larger than the ring and admitted alone. False
    // when an entry already failed: nothing more will be written, so stop
    // reading.
    bool Admit(std::size_t bytes, unsigned char*& region);
    // Hands over the entry that was last admitted (payload already read).
    void Add(std::unique_ptr<PipelineEntry> entry);
    // Gives back an admission that was not followed by Add.
    void Cancel();
    // Waits until every entry is written or dropped after a failure. Returns
    // the first failure in package order, with its problem text.
    ApplyResult Finish(std::string& problem);

private:
    struct Slot {
        std::unique_ptr<PipelineEntry> entry;
        bool inRing = false;
        bool decompressed = false;
        bool inEarlyStep = false;
    };

    void Decompressor();
    void Writer();
    // Both run with `lock` held and drop it around the step itself.
    void DecompressNext(std::unique_lock<std::mutex>& lock);
    // Whether the next entry for the early step is ready for it, and the step.
    bool EarlyWork();
    void EarlyNext(std::unique_lock<std::mutex>& lock);
    void WriteFront(std::unique_lock<std::mutex>& lock);
    // Wakes the reader for the room made since the last time (lock held).
    void AnnounceRoom();

    DecompressStep decompress_;
    WriteStep write_;
    ParentsStep parents_;
    EarlyStep early_;
    const std::size_t entryLimit_;

    std::mutex mutex_;
    std::condition_variable work_;   // decompressors: an entry to take, or stop
    std::condition_variable ready_;  // writer: the next entry decompressed, or stop
    std::condition_variable room_;   // caller: room in the ring, or all written
    BlockRing ring_;
    std::deque<Slot> slots_;         // entries added and not yet written, in order
    std::uint64_t added_ = 0;        // entries added so far
    std::uint64_t written_ = 0;      // entries written or dropped (slots_ starts here)
    std::uint64_t taken_ = 0;        // entries taken by a decompressor
    std::uint64_t earlyNext_ = 0;    // the next entry for the early step
    // How far ahead of the writer the early step goes: each of those entries
    // may hold a file open.
    static constexpr std::uint64_t kEarlyAhead = 32;
    bool admittedInRing_ = false;    // of the admission not yet added
    bool alone_ = false;             // an entry outside the ring is in flight
    // The first entry known to fail (to decompress, or to be written): nothing
    // after it is decompressed, admitted or written.
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    std::uint64_t brokenAt_ = kNone;
    bool stop_ = false;
    // Entries written since the reader was last woken, and how many make a batch.
    static constexpr unsigned kAnnounceEvery = 64;
    unsigned unannounced_ = 0;
    ApplyResult failure_ = ApplyResult::kApplied;
    std::string problem_;
    std::vector<std::thread> decompressors_;
    std::thread writer_;
};

}  // namespace launcher

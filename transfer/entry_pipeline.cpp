#include "transfer/entry_pipeline.h"

#include <utility>

namespace launcher {

EntryPipeline::EntryPipeline(DecompressStep decompress, WriteStep write, ParentsStep parents,
                             std::size_t byteLimit, std::size_t entryLimit, unsigned decompressors)
    : decompress_(std::move(decompress)),
      write_(std::move(write)),
      parents_(std::move(parents)),
      byteLimit_(byteLimit),
      entryLimit_(entryLimit == 0 ? 1 : entryLimit) {
    try {
        for (unsigned i = 0; i < decompressors; ++i) {
            decompressors_.emplace_back([this] { Decompressor(); });
        }
        if (!decompressors_.empty()) writer_ = std::thread([this] { Writer(); });
    } catch (...) {
        // Fewer threads than asked for: without a writer, every step runs inline.
    }
    if (!writer_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (std::thread& thread : decompressors_) thread.join();
        decompressors_.clear();
        stop_ = false;
    }
}

EntryPipeline::~EntryPipeline() {
    std::string ignored;
    Finish(ignored);
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    ready_.notify_all();
    for (std::thread& thread : decompressors_) thread.join();
    if (writer_.joinable()) writer_.join();
}

bool EntryPipeline::Admit(std::size_t bytes) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] {
        if (brokenAt_ != kNone) return true;
        if (slots_.size() >= entryLimit_) return false;
        // Without a sum that could wrap on a 32-bit size_t.
        return slots_.empty() || (held_ <= byteLimit_ && bytes <= byteLimit_ - held_);
    });
    if (brokenAt_ != kNone) return false;
    held_ += bytes;
    admitted_ = bytes;
    return true;
}

void EntryPipeline::Cancel(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    held_ -= bytes;
    admitted_ = 0;
}

void EntryPipeline::Add(std::unique_ptr<PipelineEntry> entry) {
    std::unique_lock lock(mutex_);
    slots_.push_back(Slot{std::move(entry), admitted_, false});
    admitted_ = 0;
    ++added_;
    if (writer_.joinable()) {
        work_.notify_one();
        return;
    }
    DecompressNext(lock);
    WriteFront(lock);
}

ApplyResult EntryPipeline::Finish(std::string& problem) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return written_ == added_; });
    if (failure_ != ApplyResult::kApplied) problem = problem_;
    return failure_;
}

void EntryPipeline::Decompressor() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stop_ || taken_ < added_; });
        if (taken_ == added_) return;
        DecompressNext(lock);
    }
}

void EntryPipeline::Writer() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ready_.wait(lock, [this] {
            return (written_ < added_ && slots_.front().decompressed) ||
                   (stop_ && written_ == added_);
        });
        if (written_ == added_) return;
        WriteFront(lock);
    }
}

// Takes the next entry nobody has taken and decompresses it without the lock.
// An entry after one that already failed is passed over: it will not be written.
void EntryPipeline::DecompressNext(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t index = taken_++;
    Slot& slot = slots_[static_cast<std::size_t>(index - written_)];
    PipelineEntry& entry = *slot.entry;
    if (brokenAt_ == kNone || index < brokenAt_) {
        lock.unlock();
        decompress_(entry);
        entry.payload.reset();
        lock.lock();
        if (entry.result != ApplyResult::kApplied && index < brokenAt_) brokenAt_ = index;
    } else {
        entry.payload.reset();
    }
    // References to deque elements survive pushes and pops at the ends, and
    // the writer pops an entry only once it is decompressed.
    Release(slot, entry.compressedSize);
    slot.decompressed = true;
    ready_.notify_one();
    room_.notify_all();
}

// Writes the oldest entry, which is decompressed, unless an earlier one failed.
void EntryPipeline::WriteFront(std::unique_lock<std::mutex>& lock) {
    Slot& slot = slots_.front();
    PipelineEntry& entry = *slot.entry;
    if (failure_ == ApplyResult::kApplied) {
        lock.unlock();
        ApplyResult result = entry.result;
        std::string problem = entry.problem;
        if (result == ApplyResult::kApplied) {
            result = write_(entry, problem);
        } else {
            // Its directories are made, as when it is the only entry in flight.
            parents_(entry.path);
        }
        entry.data.reset();
        lock.lock();
        if (result != ApplyResult::kApplied) {
            failure_ = result;
            problem_ = entry.where + problem;
            if (written_ < brokenAt_) brokenAt_ = written_;
        }
    }
    held_ -= slot.held;
    slots_.pop_front();
    ++written_;
    room_.notify_all();
}

void EntryPipeline::Release(Slot& slot, std::size_t bytes) {
    if (bytes > slot.held) bytes = slot.held;
    slot.held -= bytes;
    held_ -= bytes;
}

}  // namespace launcher

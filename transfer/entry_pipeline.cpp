#include "transfer/entry_pipeline.h"

#include <utility>

namespace launcher {

EntryPipeline::EntryPipeline(DecompressStep decompress, WriteStep write, ParentsStep parents,
                             EarlyStep early, std::size_t ringBytes, std::size_t entryLimit,
                             unsigned decompressors)
    : decompress_(std::move(decompress)),
      write_(std::move(write)),
      parents_(std::move(parents)),
      early_(std::move(early)),
      entryLimit_(entryLimit == 0 ? 1 : entryLimit),
      ring_(ringBytes) {
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

bool EntryPipeline::Admit(std::size_t bytes, unsigned char*& region) {
    std::unique_lock lock(mutex_);
    region = nullptr;
    room_.wait(lock, [&] {
        if (brokenAt_ != kNone) return true;
        if (slots_.size() >= entryLimit_ || alone_) return false;
        if (ring_.Size() == 0 || bytes > ring_.Size()) return slots_.empty();
        region = ring_.Take(bytes);
        return region != nullptr;
    });
    if (brokenAt_ != kNone) {
        if (region) ring_.GiveBackNewest();
        region = nullptr;
        return false;
    }
    admittedInRing_ = region != nullptr;
    alone_ = !admittedInRing_;
    return true;
}

void EntryPipeline::Cancel() {
    std::lock_guard lock(mutex_);
    if (admittedInRing_) ring_.GiveBackNewest();
    admittedInRing_ = false;
    alone_ = false;
    room_.notify_all();
}

void EntryPipeline::Add(std::unique_ptr<PipelineEntry> entry) {
    std::unique_lock lock(mutex_);
    slots_.push_back(Slot{std::move(entry), admittedInRing_, false});
    admittedInRing_ = false;
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
        work_.wait(lock, [this] { return stop_ || taken_ < added_ || EarlyWork(); });
        // The writer is what every entry waits for: help it first.
        if (EarlyWork()) {
            EarlyNext(lock);
        } else if (taken_ < added_) {
            DecompressNext(lock);
        } else {
            return;
        }
    }
}

void EntryPipeline::Writer() {
    std::unique_lock lock(mutex_);
    for (;;) {
        auto ready = [this] {
            return (written_ < added_ && slots_.front().decompressed &&
                    !slots_.front().inEarlyStep) ||
                   (stop_ && written_ == added_);
        };
        // Room made and not yet announced is announced before waiting.
        if (!ready() && unannounced_ > 0) AnnounceRoom();
        ready_.wait(lock, ready);
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
        lock.lock();
        if (entry.result != ApplyResult::kApplied && index < brokenAt_) brokenAt_ = index;
    }
    // References to deque elements survive pushes and pops at the ends, and
    // the writer pops an entry only once it is decompressed.
    slot.decompressed = true;
    ready_.notify_one();
}

bool EntryPipeline::EarlyWork() {
    if (!early_ || !writer_.joinable()) return false;
    if (earlyNext_ < written_) earlyNext_ = written_;
    return earlyNext_ < taken_ && earlyNext_ - written_ < kEarlyAhead &&
           earlyNext_ < brokenAt_ && slots_[static_cast<std::size_t>(earlyNext_ - written_)].decompressed;
}

// Runs the early step on the next entry without the lock; the writer waits
// for it should its turn come meanwhile.
void EntryPipeline::EarlyNext(std::unique_lock<std::mutex>& lock) {
    Slot& slot = slots_[static_cast<std::size_t>(earlyNext_++ - written_)];
    slot.inEarlyStep = true;
    PipelineEntry& entry = *slot.entry;
    lock.unlock();
    early_(entry);
    lock.lock();
    slot.inEarlyStep = false;
    ready_.notify_one();
}

// Writes the oldest entry, which is decompressed, unless an earlier one failed.
void EntryPipeline::WriteFront(std::unique_lock<std::mutex>& lock) {
    Slot& slot = slots_.front();
    // The entry is the writer's from now on, never the early step's.
    if (earlyNext_ <= written_) earlyNext_ = written_ + 1;
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
        lock.lock();
        if (result != ApplyResult::kApplied) {
            failure_ = result;
            problem_ = entry.where + problem;
            if (written_ < brokenAt_) brokenAt_ = written_;
        }
    }
    // Memory of its own goes with the entry, outside the lock but before the
    // reader may take more.
    std::unique_ptr<PipelineEntry> done = std::move(slot.entry);
    lock.unlock();
    done.reset();
    lock.lock();
    if (slots_.front().inRing) {
        ring_.GiveBackOldest();
    } else {
        alone_ = false;
    }
    slots_.pop_front();
    ++written_;
    // Room for the early step again: decompressing threads that wait for work
    // are woken for half its reach at a time.
    if (early_ && earlyNext_ >= written_ && earlyNext_ - written_ == kEarlyAhead / 2)
        work_.notify_all();
    // The reader is woken for a batch of room, not for every small entry: one
    // wake-up per file costs a package of small files more than its writes.
    // Whatever ends the reader's wait for good is announced at once.
    ++unannounced_;
    if (unannounced_ >= kAnnounceEvery || written_ == added_ || brokenAt_ != kNone)
        AnnounceRoom();
}

void EntryPipeline::AnnounceRoom() {
    unannounced_ = 0;
    room_.notify_all();
}

}  // namespace launcher

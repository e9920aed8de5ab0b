// The applier's threads on their own, with steps that only record: package
// order of the writes, the first failure winning, regions of the ring never
// shared by entries in flight, and the same results with no threads at all
// (the fallback when none can start).
#include "transfer/entry_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace launcher {
namespace {

struct Recorder {
    std::set<int> brokenPayloads;  // entries whose decompression fails
    std::set<int> brokenWrites;    // entries whose write fails
    std::mutex mutex;
    std::vector<int> written;
    std::vector<std::string> parents;
    std::vector<int> early;  // entries the early step saw
};

int IndexOf(const PipelineEntry& entry) {
    return std::stoi(entry.path);
}

EntryPipeline MakePipeline(Recorder& r, unsigned decompressors, std::size_t ringBytes = 1 << 20) {
    return EntryPipeline(
        [&r](PipelineEntry& e) {
            if (r.brokenPayloads.count(IndexOf(e))) {
                e.result = ApplyResult::kDamagedPackage;
                e.problem = "broken payload";
                return;
            }
            e.size = e.capacity;
        },
        [&r](PipelineEntry& e, std::string& problem) {
            std::lock_guard lock(r.mutex);
            if (r.brokenWrites.count(IndexOf(e))) {
                problem = "cannot write";
                return ApplyResult::kLocalFailure;
            }
            r.written.push_back(IndexOf(e));
            return ApplyResult::kApplied;
        },
        [&r](const std::string& path) {
            std::lock_guard lock(r.mutex);
            r.parents.push_back(path);
        },
        [&r](PipelineEntry& e) {
            std::lock_guard lock(r.mutex);
            r.early.push_back(IndexOf(e));
        },
        ringBytes, 64, decompressors);
}

// Feeds `count` entries as the applier's reader does; the number fed.
int Feed(EntryPipeline& pipeline, int count, std::uint32_t size = 1000) {
    for (int i = 0; i < count; ++i) {
        auto entry = std::make_unique<PipelineEntry>();
        if (!pipeline.Admit(2 * size, entry->region)) return i;
        entry->path = std::to_string(i);
        entry->where = "entry " + std::to_string(i) + ": ";
        entry->compressedSize = size;
        entry->capacity = size;
        pipeline.Add(std::move(entry));
    }
    return count;
}

TEST(EntryPipelineTest, PackageOrderAndTheFirstFailure) {
    struct Case {
        const char* what;
        std::set<int> brokenPayloads;
        std::set<int> brokenWrites;
        int first;  // entries written before the failure, or -1 for none
        ApplyResult result;
        std::string problem;
    };
    const std::vector<Case> cases = {
        {"all fine", {}, {}, -1, ApplyResult::kApplied, ""},
        {"two broken payloads",
         {7, 12},
         {},
         7,
         ApplyResult::kDamagedPackage,
         "entry 7: broken payload"},
        {"a write fails before a broken payload",
         {9},
         {5},
         5,
         ApplyResult::kLocalFailure,
         "entry 5: cannot write"},
        {"a broken payload before a failing write",
         {3},
         {40},
         3,
         ApplyResult::kDamagedPackage,
         "entry 3: broken payload"},
        {"the first entry", {0}, {}, 0, ApplyResult::kDamagedPackage, "entry 0: broken payload"},
    };
    for (unsigned threads : {0u, 1u, 3u}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(threads) + " threads");
            Recorder r;
            r.brokenPayloads = c.brokenPayloads;
            r.brokenWrites = c.brokenWrites;
            EntryPipeline pipeline = MakePipeline(r, threads);
            Feed(pipeline, 50);
            std::string problem;
            EXPECT_EQ(pipeline.Finish(problem), c.result);
            EXPECT_EQ(problem, c.problem);
            const int written = c.first < 0 ? 50 : c.first;
            std::vector<int> expected(written);
            for (int i = 0; i < written; ++i) expected[i] = i;
            EXPECT_EQ(r.written, expected);
            // The early step: once an entry at most, never on an entry that
            // failed to decompress or after it.
            std::sort(r.early.begin(), r.early.end());
            EXPECT_EQ(std::adjacent_find(r.early.begin(), r.early.end()), r.early.end());
            if (!c.brokenPayloads.empty() && !r.early.empty()) {
                EXPECT_LT(r.early.back(), *c.brokenPayloads.begin());
            }
            // Directories only for an entry that failed to decompress.
            const bool payloadFirst = c.first >= 0 && c.brokenPayloads.count(c.first);
            EXPECT_EQ(r.parents, payloadFirst ? std::vector<std::string>{std::to_string(c.first)}
                                              : std::vector<std::string>{});
        }
    }
}

// Entries in flight never share bytes of the ring: each fills its region with
// its own mark when admitted and when decompressed, and the region still holds
// it when written. One entry larger than the ring goes alone, outside it.
TEST(EntryPipelineTest, RegionsInFlightNeverOverlap) {
    constexpr std::size_t kRing = 100000;
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 300; ++i) sizes.push_back(1000 + (i * 7919) % 20000);
    sizes[150] = 80000;  // above the ring
    auto mark = [](const PipelineEntry& e) { return static_cast<unsigned char>(IndexOf(e)); };
    auto intact = [&](const PipelineEntry& e, std::size_t bytes) {
        return std::all_of(e.region, e.region + bytes,
                           [&](unsigned char c) { return c == mark(e); });
    };
    std::mutex mutex;
    std::vector<int> written, spoiled;
    EntryPipeline pipeline(
        [&](PipelineEntry& e) {
            if (!e.region) return;
            if (!intact(e, e.compressedSize)) {
                std::lock_guard lock(mutex);
                spoiled.push_back(IndexOf(e));
            }
            std::fill(e.region, e.region + e.compressedSize + e.capacity, mark(e));
        },
        [&](PipelineEntry& e, std::string&) {
            std::lock_guard lock(mutex);
            if (e.region && !intact(e, e.compressedSize + e.capacity)) {
                spoiled.push_back(IndexOf(e));
            }
            written.push_back(IndexOf(e));
            return ApplyResult::kApplied;
        },
        [](const std::string&) {}, nullptr, kRing, 64, 2);
    for (int i = 0; i < 300; ++i) {
        auto entry = std::make_unique<PipelineEntry>();
        ASSERT_TRUE(pipeline.Admit(2 * sizes[i], entry->region));
        EXPECT_EQ(entry->region == nullptr, i == 150) << i;
        entry->path = std::to_string(i);
        entry->compressedSize = static_cast<std::uint32_t>(sizes[i]);
        entry->capacity = static_cast<std::uint32_t>(sizes[i]);
        if (entry->region) std::fill(entry->region, entry->region + sizes[i], mark(*entry));
        pipeline.Add(std::move(entry));
    }
    std::string problem;
    EXPECT_EQ(pipeline.Finish(problem), ApplyResult::kApplied);
    EXPECT_EQ(written.size(), 300u);
    EXPECT_TRUE(std::is_sorted(written.begin(), written.end()));
    EXPECT_EQ(spoiled, std::vector<int>{});
}

// After a failure the reader is told to stop instead of reading on.
TEST(EntryPipelineTest, AdmitRefusesAfterAFailure) {
    Recorder r;
    r.brokenPayloads = {2};
    EntryPipeline pipeline = MakePipeline(r, 0);
    EXPECT_EQ(Feed(pipeline, 10), 3);
}

}  // namespace
}  // namespace launcher

// The applier's threads on their own, with steps that only record: package
// order of the writes, the first failure winning, the bound on held bytes, and
// the same results with no threads at all (the fallback when none can start).
#include "transfer/entry_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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
};

int IndexOf(const PipelineEntry& entry) {
    return std::stoi(entry.path);
}

EntryPipeline MakePipeline(Recorder& r, unsigned decompressors, std::size_t byteLimit = 1 << 20) {
    return EntryPipeline(
        [&r](PipelineEntry& e) {
            if (r.brokenPayloads.count(IndexOf(e))) {
                e.result = ApplyResult::kDamagedPackage;
                e.problem = "broken payload";
                return;
            }
            e.data = Block(new unsigned char[e.uncompressedSize + 1]);
            e.size = e.uncompressedSize;
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
        byteLimit, 64, decompressors);
}

// Feeds `count` entries as the applier's reader does; the number fed.
int Feed(EntryPipeline& pipeline, int count, std::uint32_t size = 1000) {
    for (int i = 0; i < count; ++i) {
        if (!pipeline.Admit(2 * size)) return i;
        auto entry = std::make_unique<PipelineEntry>();
        entry->path = std::to_string(i);
        entry->where = "entry " + std::to_string(i) + ": ";
        entry->payload = Block(new unsigned char[size]);
        entry->compressedSize = size;
        entry->uncompressedSize = size;
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
            // Directories only for an entry that failed to decompress.
            const bool payloadFirst = c.first >= 0 && c.brokenPayloads.count(c.first);
            EXPECT_EQ(r.parents, payloadFirst ? std::vector<std::string>{std::to_string(c.first)}
                                              : std::vector<std::string>{});
        }
    }
}

// The bytes the entries hold (payload until decompressed, data until written)
// never pass the limit, except one larger entry alone.
TEST(EntryPipelineTest, HeldBytesStayUnderTheLimit) {
    constexpr std::size_t kLimit = 100000;
    std::atomic<std::size_t> held{0};
    std::size_t most = 0;
    std::mutex mutex;
    std::vector<std::uint32_t> sizes;
    for (int i = 0; i < 300; ++i)
        sizes.push_back(static_cast<std::uint32_t>(1000 + (i * 7919) % 20000));
    sizes[150] = 80000;  // twice that, above the limit: alone

    std::vector<int> written;
    EntryPipeline pipeline(
        [&](PipelineEntry& e) {
            e.data = Block(new unsigned char[e.uncompressedSize]);
            e.size = e.uncompressedSize;
            std::lock_guard lock(mutex);
            most = std::max(most, held.load());
            held -= e.compressedSize;  // the payload goes once decompressed
        },
        [&](PipelineEntry& e, std::string&) {
            std::lock_guard lock(mutex);
            most = std::max(most, held.load());
            written.push_back(IndexOf(e));
            held -= e.uncompressedSize;
            return ApplyResult::kApplied;
        },
        [](const std::string&) {}, kLimit, 64, 2);
    for (int i = 0; i < 300; ++i) {
        const std::size_t bytes = 2 * std::size_t{sizes[i]};
        ASSERT_TRUE(pipeline.Admit(bytes));
        held += bytes;
        auto entry = std::make_unique<PipelineEntry>();
        entry->path = std::to_string(i);
        entry->payload = Block(new unsigned char[sizes[i]]);
        entry->compressedSize = sizes[i];
        entry->uncompressedSize = sizes[i];
        pipeline.Add(std::move(entry));
    }
    std::string problem;
    EXPECT_EQ(pipeline.Finish(problem), ApplyResult::kApplied);
    EXPECT_EQ(written.size(), 300u);
    EXPECT_TRUE(std::is_sorted(written.begin(), written.end()));
    EXPECT_LE(most, std::max<std::size_t>(kLimit, 2 * 80000));
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

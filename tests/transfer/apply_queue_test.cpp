// The applier with many decompressed entries waiting for its writer at once:
// order, later entries overwriting earlier ones, the first failure ending the
// writes, entries beyond the queue's limits. Real packages, real decompressor.
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/fakes.h"
#include "tests/support/package_bytes.h"
#include "transfer/apply_patch_package.h"
#include "transfer/decompressor.h"
#include "transfer/package_format.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;
using test::Entry;
using test::PatternBytes;

class ApplyQueueTest : public test::InstallationTest {
protected:
    ApplyResult Apply(std::int32_t count, const std::string& entries,
                      std::string* problem = nullptr) {
        WriteFile("../package.dat", EncodePackageHeader(count) + entries);
        File file;
        EXPECT_TRUE(file.Open("../package.dat", File::Mode::kRead));
        std::string why;
        const ApplyResult result = ApplyPatchPackageWithResult(file, &why);
        if (problem) *problem = why;
        return result;
    }

    static std::size_t FilesBelow(const std::string& directory) {
        std::size_t count = 0;
        for (const auto& item : fs::recursive_directory_iterator(directory)) {
            if (item.is_regular_file()) ++count;
        }
        return count;
    }
};

// Hundreds of small entries queue up behind the writer; each lands whole.
TEST_F(ApplyQueueTest, ManyEntriesLandWhole) {
    std::string entries;
    std::vector<std::string> contents;
    for (int i = 0; i < 300; ++i) {
        contents.push_back(PatternBytes(static_cast<std::size_t>(100 + i * 37), i + 1));
        entries += Entry("d" + std::to_string(i % 9) + "\\f" + std::to_string(i), contents.back());
    }
    ASSERT_EQ(Apply(300, entries), ApplyResult::kApplied);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(ReadFile("d" + std::to_string(i % 9) + "/f" + std::to_string(i)), contents[i])
            << i;
    }
    EXPECT_EQ(FilesBelow("."), 300u);
}

// The same name many times while earlier copies may still be queued: the last
// one wins, as when every entry is written before the next is read.
TEST_F(ApplyQueueTest, LaterEntryOfTheSameNameWins) {
    std::string entries;
    for (int i = 0; i < 50; ++i) entries += Entry("same\\file", "version " + std::to_string(i));
    ASSERT_EQ(Apply(50, entries), ApplyResult::kApplied);
    EXPECT_EQ(ReadFile("same/file"), "version 49");
}

// A write that fails with later entries already decompressed and queued: the
// entries before it stay written, none after it is written, and the problem
// names the failing entry.
TEST_F(ApplyQueueTest, FailedWriteDropsTheQueuedRest) {
    std::string entries;
    for (int i = 0; i < 20; ++i) entries += Entry("a\\" + std::to_string(i), "before");
    entries += Entry("blocked\\file", "x");
    for (int i = 0; i < 200; ++i) entries += Entry("b\\" + std::to_string(i), "after");
    // The 21st entry cannot be written: a file stands where its directory goes.
    std::ofstream("blocked") << "in the way";
    std::string problem;
    EXPECT_EQ(Apply(221, entries, &problem), ApplyResult::kLocalFailure);
    EXPECT_NE(problem.find("entry 21 of 221"), std::string::npos) << problem;
    EXPECT_EQ(FilesBelow("a"), 20u);
    EXPECT_FALSE(Exists("blocked/file"));
    EXPECT_FALSE(Exists("b"));
}

// A damaged payload behind queued entries: they are all written first, the
// damaged entry's directory is made, and nothing after it is read.
TEST_F(ApplyQueueTest, DamagedPayloadAfterQueuedEntries) {
    std::string entries;
    for (int i = 0; i < 100; ++i)
        entries += Entry("ok\\" + std::to_string(i), PatternBytes(5000, i));
    entries += EncodeEntryHeader("bad\\entry", 100, 6) + "broken";
    const std::string rest = Entry("late", "never");
    WriteFile("../package.dat", EncodePackageHeader(102) + entries + rest);
    File file;
    ASSERT_TRUE(file.Open("../package.dat", File::Mode::kRead));
    std::string problem;
    EXPECT_EQ(ApplyPatchPackageWithResult(file, &problem), ApplyResult::kDamagedPackage);
    EXPECT_NE(problem.find("entry 101 of 102"), std::string::npos) << problem;
    EXPECT_EQ(FilesBelow("ok"), 100u);
    EXPECT_TRUE(fs::is_directory("bad"));
    EXPECT_FALSE(Exists("bad/entry"));
    EXPECT_FALSE(Exists("late"));
}

// Several failures in one package, while later entries are decompressed on
// other threads: the first in package order is the one reported, every entry
// before it is written and none after it.
TEST_F(ApplyQueueTest, FirstFailureInPackageOrderWins) {
    struct Case {
        const char* what;
        int damaged;  // entries (1-based) whose payload is broken, 0 for none
        int blocked;  // entry whose directory is a file, 0 for none
        int first;    // the failure reported
        ApplyResult result;
    };
    const std::vector<Case> cases = {
        {"damaged, then damaged again", 30, 0, 30, ApplyResult::kDamagedPackage},
        {"write fails, then damaged", 41, 10, 10, ApplyResult::kLocalFailure},
        {"damaged, then write fails", 5, 20, 5, ApplyResult::kDamagedPackage},
        {"damaged last", 80, 0, 80, ApplyResult::kDamagedPackage},
    };
    constexpr int kCount = 80;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all("d");
        std::string entries;
        for (int i = 1; i <= kCount; ++i) {
            const std::string name = "d\\" + std::to_string(i) + "\\f";
            const bool broken = i == c.damaged || (c.damaged != kCount && i == c.damaged + 25);
            entries += broken ? EncodeEntryHeader(name, 70000, 6) + "broken"
                              : Entry(name, PatternBytes(70000, i));
        }
        if (c.blocked) {
            fs::create_directories("d");
            std::ofstream("d/" + std::to_string(c.blocked)) << "in the way";
        }
        std::string problem;
        EXPECT_EQ(Apply(kCount, entries, &problem), c.result);
        EXPECT_NE(problem.find("entry " + std::to_string(c.first) + " of "), std::string::npos)
            << problem;
        for (int i = 1; i <= kCount; ++i) {
            EXPECT_EQ(Exists("d/" + std::to_string(i) + "/f"), i < c.first) << i;
        }
    }
}

// More empty files than the queue holds by count, and entries that declare far
// more room than they fill (the room is what counts against the byte limit).
TEST_F(ApplyQueueTest, PastTheQueueLimits) {
    std::string entries;
    const int empties = 4500;
    for (int i = 0; i < empties; ++i) entries += Entry("e\\" + std::to_string(i), "");
    for (int i = 0; i < 8; ++i) {
        // Little, but not so little that no zlib stream could fill the room.
        entries += Entry("roomy\\" + std::to_string(i), PatternBytes(21000, i),
                         std::int64_t{20} << 20);
    }
    ASSERT_EQ(Apply(empties + 8, entries), ApplyResult::kApplied);
    EXPECT_EQ(FilesBelow("e"), static_cast<std::size_t>(empties));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ReadFile("roomy/" + std::to_string(i)).size(), 21000u);
}

// An entry above the queue's byte limit between small ones: written before the
// next entry is taken, and in its place in the order.
TEST_F(ApplyQueueTest, EntryAboveTheByteLimit) {
    const std::string big = PatternBytes((std::size_t{33} << 20) + 5, 9);
    std::string entries = Entry("x", "first") + Entry("big", big) + Entry("x", "last");
    ASSERT_EQ(Apply(3, entries), ApplyResult::kApplied);
    EXPECT_EQ(ReadFile("x"), "last");
    EXPECT_EQ(ReadFile("big").size(), big.size());
    EXPECT_TRUE(ReadFile("big") == big);
}

}  // namespace
}  // namespace launcher

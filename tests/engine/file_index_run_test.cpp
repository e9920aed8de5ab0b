// Updates and repairs through a file index, against a real server on
// 127.0.0.1 serving a small package history and its FILES.IDX.
#include "engine/file_index_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "engine/index_entries.h"
#include "engine/version_records.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/package_builder.h"
#include "transfer/file_index.h"

namespace launcher::test {
namespace {

// Packages 1..3; the latest release (patch 4) no longer has old.txt.
const std::vector<PackageFiles> kHistory = {
    {{"a.txt", "a1"}, {"b\\c.dat", PatternBytes(6000, 1)}, {"old.txt", "old"}, {"keep.txt", "k"}},
    {{"a.txt", "a2"}, {"d.txt", "d2"}},
    {{"b\\c.dat", PatternBytes(7000, 3)}, {"e.txt", "e3"}},
};
const std::map<std::string, std::string> kLatest = {{"a.txt", "a2"},
                                                    {"b/c.dat", PatternBytes(7000, 3)},
                                                    {"keep.txt", "k"},
                                                    {"d.txt", "d2"},
                                                    {"e.txt", "e3"}};

std::string Sha256(const std::string& bytes) {
    auto hash = BuiltInContentHash()();
    hash->Update(bytes.data(), bytes.size());
    return hash->FinishHex();
}

struct Row {
    const char* name;
    int client;  // PRESENTVERSION.DAT; 4: installed through the index first
    bool repair;
    std::function<void(FileIndex&, std::string& text)> alterIndex;
    std::function<void(const std::vector<std::string>& packages, const FileIndex&)> damage;
    bool indexUsed;  // else the patch loop ran, with its pauses
    std::string reasonHas;
    std::string summaryHas;
};

class FileIndexRunTest : public PackageEngineTest {
protected:
    void SetUp() override {
        PackageEngineTest::SetUp();
        if (!BuiltInContentHash()) GTEST_SKIP() << "built without SHA-256";
        environment_.newContentHash = BuiltInContentHash();
        index_.latest = 4;
        std::map<std::string, IndexedFile> last;
        for (std::size_t p = 0; p < kHistory.size(); ++p) {
            std::uint64_t at = 4;
            for (const auto& [name, content] : kHistory[p]) {
                const std::uint64_t length = Entry(name, content).size();
                last[name] = {static_cast<int>(p + 1), at,  length, content.size(),
                              Sha256(content),         name};
                at += length;
            }
            packages_.push_back(BuildPackage(kHistory[p]));
            server_.ServeFile("/corvatheon2_online/" + FiveDigits(static_cast<int>(p + 1)) + ".DAT",
                              packages_.back());
        }
        last.erase("old.txt");
        for (auto& [name, file] : last) index_.files.push_back(file);
        std::sort(index_.files.begin(), index_.files.end(), [](const auto& x, const auto& y) {
            return std::tie(x.package, x.offset) < std::tie(y.package, y.offset);
        });
        index_.removed = {"old.txt"};
        ServeVersionList(VersionList("1.1.6.0", 4));
    }

    void ServeIndex(const std::string& text) {
        server_.ServeFile("/corvatheon_version/corvatheon2_online/FILES.IDX", text);
    }

    void Run(int client, bool repair) {
        CMyFun::ResetForNewRun();
        owner_.Clear();
        server_.ClearRequests();
        environment_.repair = repair;
        WriteFile(kClientVersionFile, FiveDigits(client));
        RunToEnd();
    }

    std::vector<std::string> packages_;
    FileIndex index_;
};

TEST_F(FileIndexRunTest, UpdatesAndRepairs) {
    auto remove = [](const char* name) {
        return [name](const auto&, const auto&) { std::filesystem::remove(name); };
    };
    // The entries a fresh install gathers, cut after 30 bytes of the second.
    auto keptPart = [](const std::vector<std::string>& packages, const FileIndex& index) {
        std::string gathered = EncodePackageHeader(static_cast<std::int32_t>(index.files.size()));
        for (const IndexedFile& f : index.files)
            gathered +=
                packages[static_cast<std::size_t>(f.package - 1)].substr(
                    static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length));
        WriteFile(kGatheredPackage,
                  gathered.substr(0, static_cast<std::size_t>(4 + index.files[0].length + 30)));
    };
    const Row rows[] = {
        {"fresh install", 1, false, nullptr, nullptr, true, "", "fetched"},
        {"update from the middle", 3, false, nullptr,
         [](const auto&, const auto&) {
             WriteFile("a.txt", "a2");
             std::filesystem::create_directory("b");
             WriteFile("b/c.dat", PatternBytes(6000, 1));
             WriteFile("keep.txt", "k");
             WriteFile("d.txt", "d2");
             WriteFile("old.txt", "old");
         },
         true, "", "2 files, removed 1"},
        {"repair of a missing file", 4, true, nullptr, remove("d.txt"), true, "",
         "checked 5, repaired 1, removed 0"},
        {"truncated file found at start", 4, false, nullptr,
         [](const auto&, const auto&) { std::filesystem::resize_file("b/c.dat", 100); }, true, "",
         "checked 1, repaired 1"},
        {"repair of an altered file", 4, true, nullptr,
         [](const auto&, const auto&) { WriteFile("a.txt", "a9"); }, true, "", "repaired 1"},
        {"retired file deleted", 4, true, nullptr,
         [](const auto&, const auto&) { WriteFile("old.txt", "old"); }, true, "",
         "repaired 0, removed 1"},
        {"damaged index: the loop", 1, false,
         [](FileIndex&, std::string& text) { text = "CORVATHEON2-FILES 1\nlatest x\n"; }, nullptr,
         false, "FILES.IDX line 2", ""},
        {"another name at an offset: the loop", 1, false,
         [](FileIndex& index, std::string&) { index.files.back().name = "x.txt"; }, nullptr, false,
         "holds 'e.txt', not", ""},
        {"hash mismatch: the loop", 1, false,
         [](FileIndex& index, std::string&) { index.files[0].sha256 = std::string(64, '0'); },
         nullptr, false, "SHA-256 does not match the file index", ""},
        {"resumed range", 1, false, nullptr, keptPart, true, "", "fetched"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const auto& item : std::filesystem::directory_iterator("."))
            std::filesystem::remove_all(item.path());
        FileIndex index = index_;
        std::string text;
        if (row.alterIndex) row.alterIndex(index, text);
        ServeIndex(text.empty() ? FormatFileIndex(index) : text);
        if (row.client == 4) {
            ServeIndex(FormatFileIndex(index_));
            Run(1, false);
            ASSERT_EQ(ReadFile(kClientVersionFile), "00004");
            ServeIndex(text.empty() ? FormatFileIndex(index) : text);
        }
        if (row.damage) row.damage(packages_, index_);
        const auto gatheredBefore = std::filesystem::exists(kGatheredPackage)
                                        ? std::filesystem::file_size(kGatheredPackage)
                                        : 0;
        const std::size_t pausesBefore = clock_.Pauses().size();
        Run(row.client, row.repair);

        EXPECT_EQ(ReadFile(kClientVersionFile), "00004");
        EXPECT_EQ(g_nLaunchBlock, 0) << FailureReason();
        for (const auto& [path, content] : kLatest) EXPECT_EQ(ReadFile(path), content) << path;
        EXPECT_EQ(Exists("old.txt"), !row.indexUsed);  // the loop leaves it
        EXPECT_FALSE(Exists(kGatheredPackage));
        EXPECT_EQ(clock_.Pauses().size() == pausesBefore, row.indexUsed);
        EXPECT_NE(FailureReason().find(row.reasonHas), std::string::npos) << FailureReason();
        if (row.indexUsed) {
            EXPECT_NE(IndexSummary().find(row.summaryHas), std::string::npos) << IndexSummary();
        }
        // Whole packages only for the loop; a kept part is not fetched again.
        std::uint64_t ranged = 0;
        bool whole = false;
        for (const auto& request : server_.Requests()) {
            if (request.path.find("/corvatheon2_online/") != 0) continue;
            const std::string range = request.Header("range");
            whole = whole || range.empty();
            if (range.empty()) continue;
            const std::size_t dash = range.find('-');
            ranged +=
                std::stoull(range.substr(dash + 1)) - std::stoull(range.substr(6, dash - 6)) + 1;
        }
        EXPECT_EQ(whole, !row.indexUsed);
        if (gatheredBefore > 0) {
            std::uint64_t all = 4;
            for (const IndexedFile& f : index_.files) all += f.length;
            EXPECT_EQ(ranged, all - gatheredBefore);
        }
    }
}

}  // namespace
}  // namespace launcher::test

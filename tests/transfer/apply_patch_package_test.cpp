// The applier against real packages in a temporary directory, decompressed by
// the real decompressor library.
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "platform/library.h"
#include "tests/support/fakes.h"
#include "tests/support/package_bytes.h"
#include "tests/support/test_http_server.h"
#include "transfer/apply_patch_package.h"
#include "transfer/decompressor.h"
#include "transfer/download_file.h"
#include "transfer/package_format.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;
using test::Compress;
using test::Entry;
using test::PatternBytes;

std::string Count(std::int32_t count) { return EncodePackageHeader(count); }

std::string Field(std::uint32_t value) {
    unsigned char bytes[4];
    PutUint32(bytes, value);
    return std::string(reinterpret_cast<char*>(bytes), 4);
}

// Files as their content, directories with a trailing '/'.
using Tree = std::map<std::string, std::string>;

// Large contents by size and hash, so that a difference stays readable.
std::string Shown(const std::string& content) {
    return content.size() <= 64 ? content
                                : std::to_string(content.size()) + " bytes, hash " +
                                      std::to_string(std::hash<std::string>{}(content));
}

class ApplyPatchPackageTest : public test::InstallationTest {
protected:
    ApplyResult Apply(const std::string& package, std::string* problem = nullptr) {
        WriteFile("../package.dat", package);
        File file;
        EXPECT_TRUE(file.Open("../package.dat", File::Mode::kRead));
        std::string why;
        ApplyResult result = ApplyPatchPackageWithResult(file, &why);
        if (problem) *problem = why;
        return result;
    }

    static Tree Installation() {
        Tree tree;
        for (const auto& item : fs::recursive_directory_iterator(".")) {
            std::string path = fs::relative(item.path(), ".").generic_string();
            if (item.is_directory()) {
                tree[path + "/"] = "";
            } else {
                tree[path] = Shown(ReadFile(path));
            }
        }
        return tree;
    }

    static std::vector<std::string> BesideInstallation() {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator("..")) {
            names.push_back(item.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

struct PackageCase {
    const char* what;
    std::string package;
    ApplyResult result;
    Tree tree;  // the whole installation afterwards
    std::string problem = {};  // a part of the problem text
};

const std::string kOld = "old content";

TEST_F(ApplyPatchPackageTest, Table) {
    const std::string a = PatternBytes(3000, 1), b = PatternBytes(70000, 2), c = "tiny";
    const std::string five = Count(5) + Entry("one.bin", a) + Entry("d\\two.bin", b) +
                             EncodeEntryHeader("e\\f\\three.bin", 100, 12) +
                             std::string(12, 'x') + Entry("four.bin", c) + Entry("five.bin", c);
    // Four parts within the file system's limit of 255 bytes per name.
    const std::string p1(250, 'n'), p2(250, 'm'), p3(250, 'o'), p4(246, 'p');
    const std::string longName = p1 + "\\" + p2 + "\\" + p3 + "\\" + p4;
    const std::string cutPayload = Count(2) + Entry("one.bin", a) + Entry("two.bin", b);
    // Large enough to be decompressed straight into its file, from the mapped package.
    const std::string large = std::string(4 << 20, 'L') + PatternBytes(3 << 19, 4);
    const std::vector<PackageCase> cases = {
        {"empty package", Count(0), ApplyResult::kApplied, {}},
        {"negative count", Count(-1) + Entry("x", a), ApplyResult::kDamagedPackage, {}},
        {"short header", "\1\0", ApplyResult::kDamagedPackage, {}},
        {"no header", "", ApplyResult::kDamagedPackage, {}},
        {"name without directory", Count(1) + Entry("readme.txt", c), ApplyResult::kApplied,
         {{"readme.txt", c}}},
        {"nested directories", Count(1) + Entry("a\\b\\c\\d.dat", a), ApplyResult::kApplied,
         {{"a/", ""}, {"a/b/", ""}, {"a/b/c/", ""}, {"a/b/c/d.dat", Shown(a)}}},
        {"double backslash", Count(1) + Entry("a\\\\b.dat", c), ApplyResult::kApplied,
         {{"a/", ""}, {"a/b.dat", c}}},
        {"several entries, one overwriting another",
         Count(3) + Entry("x\\1", a) + Entry("x\\2", b) + Entry("x\\1", c), ApplyResult::kApplied,
         {{"x/", ""}, {"x/1", c}, {"x/2", Shown(b)}}},
        {"empty file", Count(1) + Entry("empty", ""), ApplyResult::kApplied, {{"empty", ""}}},
        {"empty name", Count(1) + Entry("", c), ApplyResult::kDamagedPackage, {}},
        {"trailing bytes ignored", Count(1) + Entry("t", c) + "garbage after the last entry",
         ApplyResult::kApplied, {{"t", c}}},
        {"uncompressedSize larger than the data", Count(1) + Entry("big", c, 4096),
         ApplyResult::kApplied, {{"big", c}}},
        {"a 14-byte stream declaring 1,000,000 bytes", Count(1) + Entry("big", "update", 1000000),
         ApplyResult::kApplied, {{"big", "update"}}},
        {"large entry, declared above its data", Count(2) +
             Entry("d\\large.bin", large, large.size() + 12345) + Entry("after", c),
         ApplyResult::kApplied, {{"d/", ""}, {"d/large.bin", Shown(large)}, {"after", c}}},
        {"file name longer than the file system allows", Count(1) + Entry(std::string(300, 'n'), c),
         ApplyResult::kDamagedPackage, {}, "longer than the file system allows"},
        {"a file where a directory is needed", Count(2) + Entry("f", c) + Entry("f\\x", c),
         ApplyResult::kLocalFailure, {{"f", c}}, "f is in the way"},
        {"uncompressedSize smaller than the data", Count(1) + Entry("small", a, 10),
         ApplyResult::kDamagedPackage, {}},
        {"nameLength 0", Count(1) + Field(0) + Field(4) + Field(4) + "abcd",
         ApplyResult::kDamagedPackage, {}},
        {"nameLength 1001", Count(1) + Field(1001) + std::string(1001, '\0'),
         ApplyResult::kDamagedPackage, {}},
        {"name of 999 bytes", Count(1) + Entry(longName, c), ApplyResult::kApplied,
         {{p1 + "/", ""}, {p1 + "/" + p2 + "/", ""}, {p1 + "/" + p2 + "/" + p3 + "/", ""},
          {p1 + "/" + p2 + "/" + p3 + "/" + p4, c}}},
        {"name without its zero byte", Count(1) + Field(3) + "abc" + Field(4) + Field(4) + "abcd",
         ApplyResult::kDamagedPackage, {}},
        {"bytes after the name's zero byte are ignored",
         Count(1) + Field(6) + std::string("ok\0xyz", 6) + Field(4) + Field(
                 static_cast<std::uint32_t>(Compress(c).size())) + Compress(c),
         ApplyResult::kApplied, {{"ok", c}}},
        {"entry fields cut short", Count(2) + Entry("one.bin", a) + Field(8) + "two",
         ApplyResult::kDamagedPackage, {{"one.bin", Shown(a)}}},
        {"payload cut short", cutPayload.substr(0, cutPayload.size() - 5),
         ApplyResult::kDamagedPackage, {{"one.bin", Shown(a)}}},
        {"compressedSize beyond the package",
         Count(1) + EncodeEntryHeader("huge", 10, 0xFFFFFFFFu) + "abc",
         ApplyResult::kDamagedPackage, {}},
        {"corrupt third payload of five", five, ApplyResult::kDamagedPackage,
         {{"one.bin", Shown(a)}, {"d/", ""}, {"d/two.bin", Shown(b)}, {"e/", ""}, {"e/f/", ""}}},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
#ifdef _WIN32
        // The test's own walk of the tree (the C runtime) stops at MAX_PATH.
        if (item.tree.count(p1 + "/")) continue;
#endif
        fs::current_path("..");
        fs::remove_all("install");
        fs::create_directory("install");
        fs::current_path("install");
        std::string problem;
        EXPECT_EQ(Apply(item.package, &problem), item.result) << problem;
        // A success says nothing; every failure says why.
        if (item.problem.empty())
            EXPECT_EQ(problem.empty(), item.result == ApplyResult::kApplied) << problem;
        else
            EXPECT_NE(problem.find(item.problem), std::string::npos) << problem;
        EXPECT_EQ(Installation(), item.tree);
        EXPECT_EQ(BesideInstallation(), (std::vector<std::string>{"install", "package.dat"}));
        File file;
        ASSERT_TRUE(file.Open("../package.dat", File::Mode::kRead));
        EXPECT_EQ(ApplyPatchPackage(file), item.result == ApplyResult::kApplied ? 1 : 0);
    }
}

// Every name that would reach outside the installation, or that no file can
// have, fails the package before anything is written.
TEST_F(ApplyPatchPackageTest, RefusedNames) {
    for (const char* name : {"\\abs.txt", "/abs.txt", "\\\\server\\share\\x", "C:evil.txt",
                             "C:\\evil.txt", "a:b", "..\\evil.txt", "a\\..\\..\\evil.txt",
                             "a\\..", "..", "sub/evil.txt", "../evil.txt", "a\\", "a\\.",
                             ".launcher-part", "d\\.launcher-part\\x"}) {
        SCOPED_TRACE(name);
        std::string problem;
        EXPECT_EQ(Apply(Count(2) + Entry("first", "1") + Entry(name, "evil"), &problem),
                  ApplyResult::kDamagedPackage);
        EXPECT_NE(problem.find("name refused"), std::string::npos) << problem;
        EXPECT_EQ(Installation(), (Tree{{"first", "1"}}));
        EXPECT_EQ(BesideInstallation(), (std::vector<std::string>{"install", "package.dat"}));
        fs::remove("first");
    }
}

// Links planted in the installation point outside it: nothing there changes,
// whether the step fails or replaces the link itself.
TEST_F(ApplyPatchPackageTest, PlantedLinksLeadNowhere) {
    test::TestHttpServer server;
    server.ServeFile("/00006.DAT", "downloaded");
    DownloadContext context;
    context.totalBarPosition = [](std::uint32_t, std::uint32_t) { return 0; };
    std::string problem;
    auto apply = [&](const std::string& name) {
        return Apply(Count(2) + Entry("first", "1") + Entry(name, "new"), &problem) ==
               ApplyResult::kApplied;
    };
    const std::vector<std::tuple<std::string, std::function<bool()>, bool, std::string>> cases = {
        {"data", [&] { return apply("data\\victim"); }, false, "data is a symbolic link"},
        {kTemporaryFileName, [&] { return apply("x"); }, true, ""},
        {"x", [&] { return apply("x"); }, true, ""},
        {"PRESENTVERSION.DAT.part",
         [] { return ReplaceFileAtomically("PRESENTVERSION.DAT", "00007", 5); }, true, ""},
        {"00006.DAT", [&] { return DownloadFile(server.Origin() + "/00006.DAT", "00006.DAT",
                                                context) == 1; }, false, ""},
    };
    for (const auto& [link, step, succeeds, expected] : cases) {
        SCOPED_TRACE(link);
        fs::create_directory("../outside");
        WriteFile("../outside/victim", kOld);
        fs::create_symlink(link == "data" ? "../outside" : "../outside/victim", link);
        problem.clear();
        EXPECT_EQ(step(), succeeds) << problem;
        if (expected.empty())
            EXPECT_EQ(problem, "");
        else
            EXPECT_NE(problem.find(expected), std::string::npos) << problem;
        EXPECT_EQ(ReadFile("../outside/victim"), kOld);
        EXPECT_EQ(std::distance(fs::directory_iterator("../outside"), {}), 1);
        for (const auto& planted : fs::directory_iterator(".")) fs::remove_all(planted.path());
    }
}

// The third payload is damaged: the first two are written, the older third file
// stays, and the fourth and fifth are not written.
TEST_F(ApplyPatchPackageTest, NothingAfterTheFirstFailureIsWritten) {
    const std::string head = Count(5) + Entry("1", "a") + Entry("2", "b") +
                             EncodeEntryHeader("3", 10, 4) + "xxxx";
    const std::string rest = Entry("4", "d") + Entry("5", "e");
    WriteFile("3", kOld);
    WriteFile("../package.dat", head + rest);
    File file;
    ASSERT_TRUE(file.Open("../package.dat", File::Mode::kRead));
    EXPECT_EQ(ApplyPatchPackage(file), 0);
    EXPECT_EQ(ReadFile("1"), "a");
    EXPECT_EQ(ReadFile("2"), "b");
    EXPECT_EQ(ReadFile("3"), kOld);
    EXPECT_FALSE(Exists("4"));
    EXPECT_FALSE(Exists("5"));
}

// An older file keeps its content whatever the failure: damaged payload,
// temporary file impossible, rename impossible.
TEST_F(ApplyPatchPackageTest, OlderFileSurvivesFailures) {
    struct Failure {
        const char* what;
        std::string package;
        std::function<void()> prepare;
        ApplyResult result;
    };
    const std::string fresh = PatternBytes(5000, 7);
    std::string damagedLarge = Entry("dir\\keep.dat", std::string(6 << 20, 'D'));
    damagedLarge.back() ^= 1;  // the checksum
    const std::vector<Failure> failures = {
        {"damaged payload", Count(1) + EncodeEntryHeader("dir\\keep.dat", 5000, 6) + "broken",
         [] {}, ApplyResult::kDamagedPackage},
        {"payload cut short", (Count(1) + Entry("dir\\keep.dat", fresh)).substr(0, 40), [] {},
         ApplyResult::kDamagedPackage},
        {"damaged payload of a large entry", Count(1) + damagedLarge, [] {},
         ApplyResult::kDamagedPackage},
        {"temporary file cannot be created", Count(1) + Entry("dir\\keep.dat", fresh),
         [] { fs::create_directory(TemporaryPathFor("dir/keep.dat")); },
         ApplyResult::kLocalFailure},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.what);
        fs::remove_all("dir");
        fs::create_directory("dir");
        WriteFile("dir/keep.dat", kOld);
        failure.prepare();
        EXPECT_EQ(Apply(failure.package), failure.result);
        EXPECT_EQ(ReadFile("dir/keep.dat"), kOld);
    }

    // A directory in the file's place: the rename fails and the temporary
    // file goes away again.
    fs::remove_all("dir");
    fs::create_directories("dir/keep.dat/inside");
    std::string problem;
    EXPECT_EQ(Apply(Count(1) + Entry("dir\\keep.dat", fresh), &problem),
              ApplyResult::kLocalFailure);
    EXPECT_NE(problem.find("dir/keep.dat is in the way"), std::string::npos) << problem;
    EXPECT_EQ(Installation(), (Tree{{"dir/", ""}, {"dir/keep.dat/", ""},
                                    {"dir/keep.dat/inside/", ""}}));
}

// A replaced file keeps its mode; a new program can be started.
TEST_F(ApplyPatchPackageTest, FileModes) {
    WriteFile("game", "old");
#ifndef _WIN32  // no permission bits there; see tests/wine_excluded.filter
    ASSERT_EQ(::chmod("game", 0755), 0);
    const mode_t previous = ::umask(027);
    const std::string large(5 << 20, 'x');  // written through its file's pages
    EXPECT_EQ(Apply(Count(6) + Entry("game", "#!new") + Entry("data", "d") +
                    Entry("run.sh", "#!/bin/sh\n") + Entry("tool", "\x7f" "ELF\2\1\1") +
                    Entry("bigtool", "\x7f" "ELF" + large) + Entry("bigdata", large)),
              ApplyResult::kApplied);
    ::umask(previous);
    for (const auto& [name, mode] : std::map<std::string, mode_t>{
             {"game", 0755}, {"data", 0640}, {"run.sh", 0750}, {"tool", 0750},
             {"bigtool", 0750}, {"bigdata", 0640}}) {
        struct stat st {};
        ASSERT_EQ(::stat(name.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << name;
    }
    EXPECT_EQ(ReadFile("game"), "#!new");
#endif
}

TEST_F(ApplyPatchPackageTest, MissingDecompressorFailsCleanly) {
    g_pfnUncompress = nullptr;
    EXPECT_EQ(Apply(Count(1) + Entry("a\\b", "x")), ApplyResult::kLocalFailure);
    EXPECT_TRUE(Installation().empty());
    EXPECT_EQ(ExtractPackageEntry("b", reinterpret_cast<const unsigned char*>("x"), 1, 1), 0);
    EXPECT_FALSE(Exists("b"));
    // Nothing to decompress: still applied.
    EXPECT_EQ(Apply(Count(0)), ApplyResult::kApplied);
}

TEST_F(ApplyPatchPackageTest, LoadsTheLibrarysOwnEntryPoint) {
    // Not zlib's symbol of the same name: the library's own export.
    EXPECT_NE(reinterpret_cast<void*>(g_pfnUncompress), reinterpret_cast<void*>(&::uncompress));
    const std::string data = PatternBytes(100000, 3);
    const std::string payload = Compress(data);
    EXPECT_EQ(ExtractPackageEntry("direct.bin",
                                  reinterpret_cast<const unsigned char*>(payload.data()),
                                  static_cast<std::uint32_t>(payload.size()),
                                  static_cast<std::uint32_t>(data.size())),
              1);
    EXPECT_EQ(ReadFile("direct.bin"), data);
}

}  // namespace
}  // namespace launcher

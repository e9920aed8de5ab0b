// mkpatch against real trees in a temporary directory; packages are applied
// with the launcher's applier and the real decompressor library.
#include <filesystem>
#include <map>
#include <sstream>

#include "engine/version_records.h"
#include "platform/library.h"
#include "tests/support/fakes.h"
#include "tools/mkpatch/mkpatch.h"
#include "transfer/apply_patch_package.h"
#include "transfer/decompressor.h"
#include "transfer/file_index.h"
#include "transfer/package_format.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;
using test::PatternBytes;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome Mkpatch(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    int status = mkpatch::Run(args, out, err);
    return {status, out.str(), err.str()};
}

using Files = std::map<std::string, std::string>;

class MkpatchTest : public test::TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        ASSERT_TRUE(test::LoadBuiltDecompressor());
    }
    void TearDown() override {
        g_pfnUncompress = nullptr;
        TempDirTest::TearDown();
    }

    static void MakeTree(const std::string& root, const Files& files) {
        for (const auto& [path, content] : files) {
            fs::create_directories((fs::path(root) / path).parent_path());
            WriteFile(root + "/" + path, content);
        }
    }

    static Files ReadTree(const std::string& root) {
        Files files;
        for (const auto& item : fs::recursive_directory_iterator(root)) {
            if (item.is_regular_file()) {
                files[item.path().lexically_relative(root).generic_string()] =
                    ReadFile(item.path().string());
            }
        }
        return files;
    }

    // Applies `package` inside `client` the way the launcher does.
    static ApplyResult ApplyIn(const std::string& client, const std::string& package) {
        const fs::path previous = fs::current_path();
        const fs::path absolute = fs::absolute(package);
        fs::create_directories(client);
        fs::current_path(client);
        File file;
        ApplyResult result = ApplyResult::kLocalFailure;
        if (file.Open(absolute.string(), File::Mode::kRead)) {
            result = ApplyPatchPackageWithResult(file);
        }
        fs::current_path(previous);
        return result;
    }
};

const Files kVersion1 = {
    {"readme.txt", "Welcome\r\n"},
    {"empty.cfg", ""},
    {"bin/game.bin", PatternBytes(300000, 1)},
    {"data/maps/town.map", std::string(200000, 'm') + PatternBytes(1000, 2)},
    {"data/maps/forest.map", PatternBytes(5000, 3)},
    {"data/文字/说明.txt", "中文"},
    {"with space/file name.txt", "spaces"},
};

TEST_F(MkpatchTest, BuildThenApplyGivesTheSameTree) {
    // One file compressed in pieces on several threads.
    Files tree = kVersion1;
    tree["data/pack.dat"] = PatternBytes(2500000, 5) + std::string(300000, 'p');
    MakeTree("v1", tree);
    Outcome built = Mkpatch({"build", "--names", "utf8", "p.dat", "v1"});
    ASSERT_EQ(built.status, mkpatch::kOk) << built.err;
    EXPECT_NE(built.out.find("largest entry, 'data\\pack.dat', needs 5"), std::string::npos)
        << built.out;

    Outcome verified = Mkpatch({"verify", "p.dat"});
    EXPECT_EQ(verified.status, mkpatch::kOk) << verified.err;
    EXPECT_NE(verified.out.find("names: valid UTF-8"), std::string::npos) << verified.out;
    ASSERT_EQ(Mkpatch({"build", "--names", "gbk", "gbk.dat", "v1"}).status, mkpatch::kOk);
    EXPECT_NE(Mkpatch({"list", "gbk.dat"}).out.find("names: valid GBK"), std::string::npos);

    // Stored names use backslashes, in a fixed order.
    Outcome listed = Mkpatch({"list", "p.dat"});
    EXPECT_EQ(listed.status, mkpatch::kOk);
    EXPECT_NE(listed.out.find("data\\maps\\forest.map"), std::string::npos) << listed.out;
    EXPECT_LT(listed.out.find("bin\\game.bin"), listed.out.find("readme.txt"));

    EXPECT_EQ(ApplyIn("client", "p.dat"), ApplyResult::kApplied);
    EXPECT_TRUE(ReadTree("client") == tree);

    // The same tree always gives the same bytes, whatever the threads.
    for (const char* threads : {"1", "3"}) {
        ASSERT_EQ(Mkpatch({"build", "--names", "utf-8", "--threads", threads, "again.dat", "v1"})
                      .status,
                  mkpatch::kOk);
        EXPECT_TRUE(ReadFile("again.dat") == ReadFile("p.dat")) << threads;
    }
}

TEST_F(MkpatchTest, DiffCarriesOnlyNewAndChangedFiles) {
    Files version2 = kVersion1;
    version2["readme.txt"] = "Welcome back\r\n";         // changed
    version2["data/maps/cave.map"] = PatternBytes(7, 9);  // new
    version2["bin/game.bin"][1000] ^= 1;                   // changed, same size
    version2.erase("with space/file name.txt");           // removed
    MakeTree("v1", kVersion1);
    MakeTree("v2", version2);

    Outcome diff = Mkpatch({"diff", "--names", "utf8", "d.dat", "v1", "v2"});
    ASSERT_EQ(diff.status, mkpatch::kOk) << diff.err;
    EXPECT_NE(diff.out.find("1 new, 2 changed, 4 unchanged, 1 only in the old tree"),
              std::string::npos)
        << diff.out;
    EXPECT_NE(diff.err.find("with space/file name.txt"), std::string::npos) << diff.err;
    Outcome listed = Mkpatch({"list", "d.dat"});
    EXPECT_NE(listed.out.find("3 entries"), std::string::npos) << listed.out;

    // Packages cannot delete: the client keeps the removed file.
    ASSERT_EQ(Mkpatch({"build", "--names", "utf8", "p.dat", "v1"}).status, mkpatch::kOk);
    ASSERT_EQ(ApplyIn("client", "p.dat"), ApplyResult::kApplied);
    ASSERT_EQ(ApplyIn("client", "d.dat"), ApplyResult::kApplied);
    Files expected = version2;
    expected["with space/file name.txt"] = "spaces";
    EXPECT_EQ(ReadTree("client"), expected);
}

TEST_F(MkpatchTest, DiffRefusesWhatNoClientCanApply) {
    MakeTree("old", {{"a/inner", "1"}, {"b", "2"}});
    MakeTree("new", {{"a", "now a file"}, {"b/inner", "now a directory"}});
    Outcome diff = Mkpatch({"diff", "d.dat", "old", "new"});
    EXPECT_EQ(diff.status, mkpatch::kFailed);
    EXPECT_NE(diff.err.find("cannot replace it with a file"), std::string::npos) << diff.err;
    EXPECT_NE(diff.err.find("cannot turn it into a directory"), std::string::npos) << diff.err;
    EXPECT_FALSE(Exists("d.dat"));
}

TEST_F(MkpatchTest, BuildRefusesWhatThePackageCannotHold) {
    struct Case {
        const char* what;
        std::function<void()> make;
        std::vector<std::string> args;
        const char* error;
    };
    const std::string deep = std::string(250, 'a') + "/" + std::string(250, 'b') + "/" +
                             std::string(250, 'c') + "/" + std::string(250, 'd');
    const std::vector<Case> cases = {
        {"backslash in a file name", [] { MakeTree("in", {{"a\\b", "x"}}); },
         {"build", "p.dat", "in"}, "backslash"},
        {"colon in a file name", [] { MakeTree("in", {{"c:x", "x"}}); },
         {"build", "p.dat", "in"}, "':'"},
        {"name over 999 bytes", [&] { MakeTree("in", {{deep, "x"}}); },
         {"build", "p.dat", "in"}, "at most 999"},
        {"file of 4 GiB",
         [] {
             fs::create_directory("in");
             WriteFile("in/huge", "");
             fs::resize_file("in/huge", std::uintmax_t{1} << 32);  // sparse
         },
         {"build", "p.dat", "in"}, "is 4294967296 bytes; a package entry holds at most 4 GiB - 1"},
        {"name not ASCII, code page unsaid", [] { MakeTree("in", {{"数据/说明.txt", "x"}}); },
         {"build", "p.dat", "in"}, "need --names: Windows clients read names in the system's"},
        {"diff with a name not ASCII, code page unsaid",
         [] { MakeTree("in", {{"说明.txt", "x"}}); }, {"diff", "p.dat", "in", "in"},
         "need --names"},
        {"name with no code page 936 form",
         [] { MakeTree("in", {{"地图/\xF0\x9F\x98\x80", "x"}}); },
         {"build", "--names", "gbk", "p.dat", "in"}, "no code page 936 form"},
        {"code page 936 name with a 0x5C byte", [] { MakeTree("in", {{"乗.txt", "x"}}); },
         {"diff", "--names", "gbk", "p.dat", "in", "in"}, "byte 0x5C"},
        {"missing directory", [] {}, {"build", "p.dat", "in"}, "not a directory"},
        {"package inside the tree", [] { MakeTree("in", {{"x", "x"}}); },
         {"build", "in/p.dat", "in"}, "contain itself"},
        {"missing old tree", [] { MakeTree("in", {{"x", "x"}}); },
         {"diff", "p.dat", "nothing", "in"}, "not a directory"},
        {"missing package", [] {}, {"verify", "p.dat"}, "cannot open"},
        {"missing package to list", [] {}, {"list", "p.dat"}, "cannot open"},
#ifndef _WIN32
        {"secret key over a planted link", [] { fs::create_symlink("elsewhere", "k.key"); },
         {"keygen", "k"}, "k.key: cannot create"},
#endif
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        fs::remove_all("in");
        item.make();
        Outcome outcome = Mkpatch(item.args);
        EXPECT_EQ(outcome.status, mkpatch::kFailed);
        EXPECT_NE(outcome.err.find(item.error), std::string::npos) << outcome.err;
        EXPECT_FALSE(Exists("p.dat"));
        EXPECT_FALSE(Exists("p.dat.part"));
    }
}

TEST_F(MkpatchTest, VerifyPointsAtTheFirstProblem) {
    MakeTree("in", {{"a.txt", std::string(1000, 'a')}, {"b.bin", PatternBytes(600000, 4)}});
    ASSERT_EQ(Mkpatch({"build", "p.dat", "in"}).status, mkpatch::kOk);
    const std::string good = ReadFile("p.dat");
    // Entry 1 starts at byte 4: nameLength, "a.txt\0", two sizes, payload at 22.
    const std::size_t secondEntry = 4 + 4 + 6 + 8 + GetUint32(
        reinterpret_cast<const unsigned char*>(good.data()) + 18);
    auto with = [&](std::size_t at, const std::string& bytes) {
        std::string changed = good;
        changed.replace(at, bytes.size(), bytes);
        return changed;
    };
    auto field = [](std::uint32_t value) {
        unsigned char bytes[4];
        PutUint32(bytes, value);
        return std::string(reinterpret_cast<char*>(bytes), 4);
    };
    struct Case {
        const char* what;
        std::string package;
        std::string error;
        int status = mkpatch::kFailed;  // kOk: a warning, the launcher applies it
    };
    const std::vector<Case> cases = {
        {"payload cut short", good.substr(0, good.size() - 1),
         "byte " + std::to_string(secondEntry + 4 + 6 + 8)},
        {"payload bytes damaged", with(secondEntry + 4 + 6 + 8 + 10, "\xff\xff\xff\xff"),
         "byte " + std::to_string(secondEntry + 18) + ": entry 2 'b.bin': the payload does not"},
        {"size declared larger", with(14, field(1001)),
         "warning: byte 22: entry 1 'a.txt': declares 1001", mkpatch::kOk},
        {"size no payload can reach", with(14, field(1u << 30)),
         "byte 4: entry 1 'a.txt': uncompressed size 1073741824 is more than"},
        {"entry needing over 512 MiB to apply", with(secondEntry + 4 + 6, field(520u << 20)),
         "'b.bin' needs 520.6 MiB of memory while it is applied, more than 512.0 MiB: 32-bit",
         mkpatch::kOk},
        {"trailing bytes", good + "xyz",
         "warning: byte " + std::to_string(good.size()) + ": 3 bytes after", mkpatch::kOk},
        {"negative count", with(0, field(0xFFFFFFFFu)), "byte 0: negative entry count"},
        {"refused name", with(8, std::string("..\\a\0", 5)), "byte 4: entry 1 '..\\a'"},
        {"name without zero", with(8, "a.txtx"), "byte 8: name without its zero byte"},
        {"short header", "\1\0", "entry count cut short"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        WriteFile("bad.dat", item.package);
        Outcome outcome = Mkpatch({"verify", "bad.dat"});
        EXPECT_EQ(outcome.status, item.status);
        EXPECT_NE(outcome.err.find(item.error), std::string::npos) << outcome.err;
    }
}

TEST_F(MkpatchTest, Usage) {
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{}, mkpatch::kBadUsage},
        {{"frobnicate"}, mkpatch::kBadUsage},
        {{"build", "only-one"}, mkpatch::kBadUsage},
        {{"diff", "a", "b"}, mkpatch::kBadUsage},
        {{"list"}, mkpatch::kBadUsage},
        {{"serverlist", "--launcher", "1.1.6.0"}, mkpatch::kBadUsage},
        {{"serverlist", "--launcher", "1.1.6.0", "--latest"}, mkpatch::kBadUsage},
        {{"serverlist", "--launcher", "1.1.6.0", "--latest", "3", "--bogus", "x"},
         mkpatch::kBadUsage},
        {{"checklist"}, mkpatch::kBadUsage},
        {{"--help"}, mkpatch::kOk},
        {{"verify", "--help"}, mkpatch::kOk},
    };
    for (const auto& [args, status] : cases) {
        Outcome outcome = Mkpatch(args);
        EXPECT_EQ(outcome.status, status) << ::testing::PrintToString(args);
        EXPECT_NE((outcome.out + outcome.err).find("usage: mkpatch"), std::string::npos);
    }
}

// What serverlist writes, the engine reads back as meant.
TEST_F(MkpatchTest, ServerListReadsBackThroughTheEngine) {
    struct Case {
        std::string version;
        std::string latest;
        std::string text;  // empty: refused
    };
    const std::vector<Case> cases = {
        {"1.1.6.0", "6", "a-launcher=1.1.6.0\nb-patch=00006\n"},
        {"1.1.6.0", "99999", "a-launcher=1.1.6.0\nb-patch=99999\n"},
        {"2.0", "12", "2.0\n2.0-patch=00012\n"},
        {"zz", "7", "zz\nzz-patch=00007\n"},
        {"1.1.10.0", "6", ""},
        {"1.1.6.0", "0", ""},
        {"1.1.6.0", "100000", ""},
        {"1.1.6.0", "-3", ""},
        {"1.1.6.0", "x", ""},
        {"1 1", "3", ""},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.version + " " + item.latest);
        Outcome outcome = Mkpatch({"serverlist", "--launcher", item.version, "--latest",
                                   item.latest, "-o", "SERVERVER.INI"});
        if (item.text.empty()) {
            EXPECT_EQ(outcome.status, mkpatch::kFailed);
            EXPECT_FALSE(Exists("SERVERVER.INI"));
            continue;
        }
        ASSERT_EQ(outcome.status, mkpatch::kOk) << outcome.err;
        const std::string text = ReadFile("SERVERVER.INI");
        EXPECT_EQ(text, item.text);
        ServerListEntries entries = ParseServerVersionList(text);
        EXPECT_EQ(LastBytes(entries.first, 7), item.version);
        EXPECT_EQ(AtoiLike(LastBytes(entries.second, 5)), std::stoi(item.latest));
        Outcome checked = Mkpatch({"checklist", "--launcher", item.version, "SERVERVER.INI"});
        EXPECT_EQ(checked.status, mkpatch::kOk) << checked.out;
        EXPECT_NE(checked.out.find("is current and patches up to " + item.latest),
                  std::string::npos)
            << checked.out;
        fs::remove("SERVERVER.INI");
    }
    // Without -o the list goes to standard output.
    EXPECT_EQ(Mkpatch({"serverlist", "--launcher", "1.1.6.0", "--latest", "6"}).out,
              "a-launcher=1.1.6.0\nb-patch=00006\n");
}

TEST_F(MkpatchTest, CheckListWarnsAboutListsThatMisread) {
    struct Case {
        const char* what;
        std::string text;
        int status;
        std::vector<std::string> says;
    };
    const std::vector<Case> cases = {
        {"sound list, CR LF", "a-launcher=1.1.6.0\r\nb-patch=00012\r\n", mkpatch::kOk,
         {"launcher version: '1.1.6.0'", "latest patch:     12", "reads as written"}},
        {"bare lines sort the wrong way", "1.1.6.0\n00012\n", mkpatch::kFailed,
         {"launcher version: '00012'", "latest patch:     1 ('1.6.0'",
          "'00012' sorts before '1.1.6.0'"}},
        {"blank line", "a-launcher=1.1.6.0\n\nb-patch=00012\n", mkpatch::kFailed,
         {"line 2 is blank", "latest patch:     12"}},
        {"third entry", "a-launcher=1.1.6.0\nb-patch=00012\nc-note=x\n", mkpatch::kFailed,
         {"3. 'c-note=x'  ignored", "entries after the second are ignored"}},
        {"one entry", "1.1.6.0\n", mkpatch::kFailed,
         {"launcher and patch entry", "only one entry", "latest patch:     1"}},
        {"version longer than 7 bytes", "a-launcher=1.1.10.0\nb-patch=00012\n", mkpatch::kFailed,
         {"ends in '1.1.10.0' (8 bytes)", "'.1.10.0'"}},
        {"launcher entry tail shorter than 7", "launcher=1.2\npatch=00012\n", mkpatch::kFailed,
         {"launcher version: 'her=1.2'", "no launcher will ever match"}},
        {"six-digit patch number", "a-launcher=1.1.6.0\nb-patch=123456\n", mkpatch::kFailed,
         {"only its last 5 digits count: 23456"}},
        {"duplicates and white space", "  a-launcher=1.1.6.0\t\nb-patch=00012\nb-patch=00012\n",
         mkpatch::kOk, {"white space around 'a-launcher=1.1.6.0'", "line 3 repeats"}},
        {"Ctrl-Z ends the text", "a-launcher=1.1.6.0\nb-patch=00012\n\x1a" "c\n", mkpatch::kOk,
         {"Ctrl-Z", "2 entries"}},
        {"empty list", "\n", mkpatch::kFailed, {"no entries"}},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        WriteFile("list.ini", item.text);
        Outcome outcome = Mkpatch({"checklist", "list.ini"});
        EXPECT_EQ(outcome.status, item.status) << outcome.out;
        for (const auto& text : item.says) {
            EXPECT_NE(outcome.out.find(text), std::string::npos) << text << "\n" << outcome.out;
        }
    }
    Outcome missing = Mkpatch({"checklist", "absent.ini"});
    EXPECT_EQ(missing.status, mkpatch::kFailed);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
    // A launcher of another version is told that it will update itself.
    WriteFile("list.ini", "a-launcher=1.1.7.0\nb-patch=00012\n");
    EXPECT_NE(Mkpatch({"checklist", "--launcher", "1.1.6.0", "list.ini"})
                  .out.find("downloads the replacement launcher"),
              std::string::npos);
}

// Three packages: readme.txt replaced twice, one file retired. The index
// points at the last entries, and verify-index names what a damaged one says.
TEST_F(MkpatchTest, IndexHoldsTheLastEntryOfEveryFile) {
    Files version2 = kVersion1;
    version2["readme.txt"] = "Welcome back\r\n";
    version2["data/maps/cave.map"] = PatternBytes(7, 9);
    Files version3 = version2;
    version3["readme.txt"] = "Welcome again\r\n";
    version3.erase("with space/file name.txt");
    MakeTree("v1", kVersion1);
    MakeTree("v2", version2);
    MakeTree("v3", version3);
    fs::create_directory("srv");
    ASSERT_EQ(Mkpatch({"build", "--names", "utf8", "srv/00001.DAT", "v1"}).status, mkpatch::kOk);
    ASSERT_EQ(Mkpatch({"diff", "--names", "utf8", "srv/00002.DAT", "v1", "v2"}).status, 0);
    ASSERT_EQ(Mkpatch({"diff", "--names", "utf8", "srv/00003.DAT", "v2", "v3"}).status, 0);
    ASSERT_EQ(Mkpatch({"serverlist", "--launcher", "1.1.6.0", "--latest", "4", "-o",
                       "srv/SERVERVER.INI"}).status, 0);
    auto index = [](const char* tree) {
        return Mkpatch({"index", "--names", "utf8", "--tree", tree, "--packages", "srv",
                        "srv/SERVERVER.INI"});
    };
    const Outcome made = index("v3");
    if (made.err.find("built without") != std::string::npos) GTEST_SKIP() << made.err;
    ASSERT_EQ(made.status, mkpatch::kOk) << made.err;
    const std::string good = ReadFile("srv/FILES.IDX");
    FileIndex parsed;
    std::string why;
    ASSERT_TRUE(ParseFileIndex(good, parsed, why)) << why;
    EXPECT_EQ(parsed.files.size(), version3.size());
    EXPECT_EQ(parsed.removed, std::vector<std::string>{"with space\\file name.txt"});
    // readme.txt's last entry is the only one of 00003.DAT.
    EXPECT_NE(good.find("F 00003 4 "), std::string::npos) << good;

    // The tree of an earlier release is not what the packages produce.
    const Outcome stale = index("v2");
    EXPECT_EQ(stale.status, mkpatch::kFailed);
    EXPECT_NE(stale.err.find("readme.txt differs from its last entry (00003.DAT byte 4, 15 bytes)"),
              std::string::npos) << stale.err;
    EXPECT_EQ(ReadFile("srv/FILES.IDX"), good);

    auto changed = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::size_t hashAt = good.find(" readme.txt\n") - 64;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {good, "sound, latest patch 4, 7 files, 1 removed"},
        {changed("F 00003 4 ", "F 00003 5 "), "readme.txt: 00003.DAT byte 5: no entry there"},
        {std::string(good).replace(hashAt, 1, good[hashAt] == '0' ? "1" : "0"),
         "readme.txt: 00003.DAT byte 4 inflates to 15 bytes of SHA-256"},
        {changed(" readme.txt\n", " readme.txu\n"),
         "readme.txu: 00003.DAT byte 4 holds an entry of 'readme.txt'"},
        {good + "R saves\\player.sav\n", "saves\\player.sav: removed, but no package ever"},
        {changed("latest 00004", "latest 00005"), "describes patch 5, srv/SERVERVER.INI announces patch 4"},
    };
    for (const auto& [text, says] : cases) {
        SCOPED_TRACE(says);
        WriteFile("srv/FILES.IDX", text);
        const Outcome checked = Mkpatch({"verify-index", "--packages", "srv", "srv/SERVERVER.INI"});
        EXPECT_EQ(checked.status, text == good ? mkpatch::kOk : mkpatch::kFailed);
        EXPECT_NE((checked.out + checked.err).find(says), std::string::npos) << checked.err;
    }
    EXPECT_NE(Mkpatch({"checklist", "srv/SERVERVER.INI"}).out.find("describes patch 5"),
              std::string::npos);
}

// Releases in a row into one servers' root, each applied as a client would,
// and the mistakes release refuses without touching what is announced.
TEST_F(MkpatchTest, ReleaseAnnouncesOnePackageAtATime) {
    Files version2 = kVersion1;
    version2["readme.txt"] = "Welcome back\r\n";
    MakeTree("v1", kVersion1);
    MakeTree("v2", version2);
    const std::string list = "srv/corvatheon_version/corvatheon2_online/SERVERVER.INI";
    const std::string packages = "srv/corvatheon2_online/";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* says;    // on success in out, else in err
        int announced;       // latest patch of the list afterwards
    };
    const std::vector<std::string> first = {"release", "--names", "utf8", "--next", "v1",
                                            "--out",   "srv",     "--launcher", "1.1.6.0"};
    auto with = [](std::vector<std::string> args, std::vector<std::string> more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    // Signed where this build can sign: checked then as a keyed launcher checks.
    std::vector<std::string> key;
    if (Mkpatch({"keygen", "k"}).status == mkpatch::kOk) key = {"--key", "k.key"};
    const std::vector<Case> cases = {
        {"first release with --previous", with(first, {"--previous", "v1"}), "without --previous",
         0},
        {"first release", first, "release of patch 2: 00001.DAT", 2},
        {"later release without --previous", first, "needs --previous", 2},
        {"nothing changed", with(first, {"--previous", "v1"}), "nothing to release", 2},
        {"later release", with(with(first, {"--previous", "v1", "--next", "v2"}), key),
         "release of patch 3: 00002.DAT brings clients from patch 2", 3},
        {"the tree of an older release",
         with(first, {"--previous", "v1", "--next", "v2"}), "carries readme.txt of 14 bytes", 3},
        {"a new launcher without Launcher.exe_",
         with(first, {"--previous", "v2", "--launcher", "1.1.7.0"}), "put the new launcher", 3},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        Outcome outcome = Mkpatch(item.args);
        const bool ok = outcome.status == mkpatch::kOk;
        EXPECT_NE((ok ? outcome.out : outcome.err).find(item.says), std::string::npos)
            << outcome.out << outcome.err;
        const ServerListEntries entries =
            ParseServerVersionList(Exists(list) ? ReadFile(list) : std::string());
        EXPECT_EQ(AtoiLike(LastBytes(entries.second, 5)), item.announced);
        EXPECT_FALSE(Exists(list + ".next"));
    }
    EXPECT_EQ(ApplyIn("client", packages + "00001.DAT"), ApplyResult::kApplied);
    EXPECT_EQ(ApplyIn("client", packages + "00002.DAT"), ApplyResult::kApplied);
    EXPECT_EQ(ReadTree("client"), version2);
    EXPECT_FALSE(Exists(packages + "00003.DAT"));
    // The release's file index is signed with it; one of another patch is refused.
    if (key.empty()) return;
    EXPECT_EQ(Mkpatch({"verify-index", "--packages", packages, list}).status, mkpatch::kOk);
    EXPECT_NE(ReadFile("srv/corvatheon_version/corvatheon2_online/SERVERVER.SIG")
                  .find("\nfile FILES.IDX "),
              std::string::npos);
    WriteFile(list, "a-launcher=1.1.6.0\nb-patch=00002\n");
    EXPECT_NE(Mkpatch({"sign", "--key", "k.key", "--packages", packages, list})
                  .err.find("describes patch 3, the list announces patch 2"),
              std::string::npos);
}

}  // namespace
}  // namespace launcher

#include "engine/version_records.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/globals.h"
#include "engine/launcher_version.h"
#include "engine/my_fun.h"
#include "platform/files.h"
#include "tests/support/fakes.h"

namespace launcher::test {
namespace {

class ClientVersionTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        CMyFun::ResetForNewRun();
    }
};

struct ClientCase {
    const char* name;
    const char* contents;  // nullptr: no file
    int client;
    int start;
    const char* fileAfter;
};

TEST_F(ClientVersionTest, ReadsOrCreatesTheClientVersionFile) {
    const ClientCase cases[] = {
        {"missing file is created", nullptr, 1, 1, "00001"},
        {"zero", "00000", 1, 0, "00000"},
        {"two bytes are unreadable", "12", 1, 0, "12"},
        {"only five bytes count", "00012xyz", 12, 12, "00012xyz"},
        {"leading space, letters after digits", " 42ab", 42, 42, " 42ab"},
        {"no digits", "abcde", 1, 0, "abcde"},
        {"negative", "-0003", 1, -3, "-0003"},
        {"largest", "99999", 99999, 99999, "99999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CMyFun::ResetForNewRun();
        RemoveFile(kClientVersionFile);
        if (c.contents) WriteFile(kClientVersionFile, c.contents);
        EXPECT_EQ(GetClientVersion(), 1);
        EXPECT_EQ(CMyFun::m_nClientVersion, c.client);
        EXPECT_EQ(CMyFun::m_nStartVersion, c.start);
        EXPECT_EQ(ReadFile(kClientVersionFile), c.fileAfter);
    }
}

TEST_F(ClientVersionTest, AnUnopenableFileIsNotReplaced) {
    // A directory of that name can be neither read nor replaced.
    ASSERT_TRUE(std::filesystem::create_directory(kClientVersionFile));
    EXPECT_EQ(GetClientVersion(), 0);
    EXPECT_TRUE(Exists(kClientVersionFile));
}

TEST_F(ClientVersionTest, RewriteIsFiveDigitsAndLeavesNoTemporaryFile) {
    ASSERT_TRUE(WriteClientVersionFile(7));
    EXPECT_EQ(ReadFile(kClientVersionFile), "00007");
    ASSERT_TRUE(WriteClientVersionFile(123456));
    EXPECT_EQ(ReadFile(kClientVersionFile), "23456");
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(".")) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

struct ListCase {
    const char* name;
    std::string contents;
    int count;
    const char* first;
    const char* second;
};

TEST(ServerVersionListTest, EntriesAreTrimmedDistinctAndSorted) {
    const ListCase cases[] = {
        {"one entry serves as both", "1.1.6.0", 1, "1.1.6.0", "1.1.6.0"},
        {"order of lines does not matter", "b-patch=00012\na-launcher=1.1.6.0\n", 2,
         "a-launcher=1.1.6.0", "b-patch=00012"},
        {"CR LF and trimming", "  a-launcher=1.1.6.0 \t\r\n\tb-patch=00012\r\n", 2,
         "a-launcher=1.1.6.0", "b-patch=00012"},
        {"duplicates count once", "a=1.1.6.0\nb=00003\na=1.1.6.0\nb=00003\n", 2, "a=1.1.6.0",
         "b=00003"},
        {"Ctrl-Z ends the text", "a=1.1.6.0\nb=00003\n\x1a" "0=ignored\n", 2, "a=1.1.6.0",
         "b=00003"},
        {"a third entry sorting last is ignored", "a=1.1.6.0\nb=00003\nc=99999\n", 3, "a=1.1.6.0",
         "b=00003"},
        {"a third entry sorting first becomes the launcher entry", "a=1.1.6.0\nb=00003\n0=x\n", 3,
         "0=x", "a=1.1.6.0"},
        {"bare lines sort the patch number first", "1.1.6.0\n00012\n", 2, "00012", "1.1.6.0"},
        {"blank and white-space lines are ignored", "\na=1.1.6.0\n   \nb=00003\n\n\n", 2,
         "a=1.1.6.0", "b=00003"},
        {"last line needs no line end", "a=1.1.6.0\nb=00004", 2, "a=1.1.6.0", "b=00004"},
        {"empty list", "", 0, "", ""},
        {"only blank lines", "\r\n \n\t\n", 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServerListEntries entries = ParseServerVersionList(c.contents);
        EXPECT_EQ(entries.count, c.count);
        EXPECT_EQ(entries.first, c.first);
        EXPECT_EQ(entries.second, c.second);
    }
}

TEST(ServerVersionListTest, CutsAndConversions) {
    EXPECT_EQ(LastBytes("a-launcher=1.1.6.0", 7), "1.1.6.0");
    EXPECT_EQ(LastBytes("1.6", 7), "1.6");
    EXPECT_EQ(AtoiLike(LastBytes("1.1.6.0", 5)), 1);  // "1.6.0"
    EXPECT_EQ(AtoiLike(LastBytes("b-patch=00012", 5)), 12);
    EXPECT_EQ(AtoiLike(" \t-42x"), -42);
    EXPECT_EQ(AtoiLike("+7"), 7);
    EXPECT_EQ(AtoiLike("x1"), 0);
    EXPECT_EQ(AtoiLike("99999999999999"), 2147483647);
    EXPECT_EQ(FiveDigits(7), "00007");
    EXPECT_EQ(FiveDigits(0), "00000");
}

class ReadListTest : public TempDirTest {};

TEST_F(ReadListTest, TheListFileIsDeletedWhateverItHolds) {
    std::string first = "old";
    std::string second = "old";
    WriteFile(kServerVersionList, "a=1.1.6.0\nb=00002\n");
    EXPECT_EQ(ReadServerVersionList(first, second, kServerVersionList), 1);
    EXPECT_EQ(first, "a=1.1.6.0");
    EXPECT_EQ(second, "b=00002");
    EXPECT_FALSE(Exists(kServerVersionList));

    WriteFile(kServerVersionList, "\n\n");
    EXPECT_EQ(ReadServerVersionList(first, second, kServerVersionList), 0);
    EXPECT_EQ(first, "a=1.1.6.0");  // left as they were
    EXPECT_FALSE(Exists(kServerVersionList));

    EXPECT_EQ(ReadServerVersionList(first, second, kServerVersionList), 0);  // missing file
}

TEST(LauncherVersionTest, FileVersionsOfEveryTranslationAreJoinedInOrder) {
    VersionBlock two{{{0x0409, 0x04b0}, {0x0804, 0x03a8}},
                     {{"\\StringFileInfo\\040904b0\\FileVersion", "1.0"},
                      {"\\StringFileInfo\\080403a8\\FileVersion", "2.0"}}};
    EXPECT_EQ(JoinFileVersions(two), "1.02.0");

    VersionBlock missingOne{{{0x0409, 0x04b0}, {0x0804, 0x03a8}},
                            {{"\\StringFileInfo\\080403a8\\FileVersion", "2.0"}}};
    EXPECT_EQ(JoinFileVersions(missingOne), "2.0");

    ASSERT_NE(ProgramVersionBlock(), nullptr);
    EXPECT_EQ(JoinFileVersions(*ProgramVersionBlock()), "1.1.6.0");
}

TEST(LauncherVersionTest, AProgramWithoutVersionBlockSaysSo) {
    RecordingMessageBoxes boxes;
    EngineEnvironment environment;
    environment.messageBoxes = &boxes;
    environment.applicationName = "Launcher";
    CMyFun::m_pEnvironment = &environment;
    g_strLauncherVersion = "stale";
    GetLauncherVersion(nullptr);
    CMyFun::m_pEnvironment = nullptr;
    EXPECT_EQ(g_strLauncherVersion, "");
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].caption, "Launcher");
    EXPECT_EQ(boxes.Boxes()[0].text, "None VerSion Supprot");
}

}  // namespace
}  // namespace launcher::test

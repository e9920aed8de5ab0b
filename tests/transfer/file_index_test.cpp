// The index's text: one round trip and a table of what the parser refuses.
#include "transfer/file_index.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

const std::string kHash(64, 'a');
const std::string kHead = "CORVATHEON2-FILES 1\nlatest 00004\n";

std::string Line(const std::string& fields, const std::string& name) {
    return "F " + fields + " " + kHash + " " + name + "\n";
}

TEST(FileIndexTest, RoundTrip) {
    FileIndex index;
    index.latest = 7;
    index.files = {{1, 4, 30, 10, kHash, "a b\\c.txt"}, {3, 1234, 5678, 100000, kHash, "d"}};
    index.removed = {"old map.dat"};
    FileIndex back;
    std::string why;
    ASSERT_TRUE(ParseFileIndex(FormatFileIndex(index), back, why)) << why;
    EXPECT_EQ(FormatFileIndex(back), FormatFileIndex(index));
    EXPECT_EQ(back.files[0].name, "a b\\c.txt");
    EXPECT_EQ(back.files[1].size, 100000u);
}

TEST(FileIndexTest, RefusesMalformed) {
    const struct {
        std::string text;
        std::string why;
    } rows[] = {
        {"CORVATHEON2-FILES 2\nlatest 00004\n", "line 1: not a file index of version 1"},
        {"CORVATHEON2-FILES 1\n", "line 2: cut short"},
        {"CORVATHEON2-FILES 1\nlatest x\n", "line 2: expected"},
        {kHead + "F 00001 4 30 10 " + kHash + " a", "line 3: no line end"},
        {kHead + Line("00004 4 30 10", "a"), "line 3: package 4 outside 1..3"},
        {kHead + Line("00000 4 30 10", "a"), "line 3: package 0 outside"},
        {kHead + Line("00001 -4 30 10", "a"), "line 3: bad offset"},
        {kHead + Line("00001 4 30 99999999999", "a"), "line 3: bad size"},
        {kHead + Line("00001 4 13 10", "ab"), "line 3: length does not fit"},
        {kHead + "F 00001 4 30 10 " + std::string(64, 'A') + " a\n", "line 3: bad SHA-256"},
        {kHead + Line("00001 4 30 10", "..\\evil"), "line 3: name the applier refuses"},
        {kHead + Line("00001 4 30 10", "a\r"), "line 3: name holds a zero byte or CR"},
        {kHead + Line("00002 4 30 10", "a") + Line("00001 4 30 10", "b"), "line 4: out of"},
        {kHead + Line("00001 4 30 10", "a") + Line("00001 20 30 10", "b"), "line 4: out of"},
        {kHead + Line("00001 4 30 10", "a") + Line("00002 4 30 10", "a"),
         "line 4: duplicate name a"},
        {kHead + Line("00001 4 30 10", "a") + "R a\n", "line 4: duplicate name a"},
        {kHead + "R C:\\x\n", "line 3: name the applier refuses"},
        {kHead + "X a\n", "line 3: unknown line"},
    };
    for (const auto& row : rows) {
        FileIndex index;
        std::string why;
        EXPECT_FALSE(ParseFileIndex(row.text, index, why)) << row.text;
        EXPECT_NE(why.find("FILES.IDX " + row.why), std::string::npos) << why;
        EXPECT_TRUE(index.files.empty());
    }
}

}  // namespace
}  // namespace launcher

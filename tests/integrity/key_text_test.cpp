// Keys are read strictly: one text means one key, whatever the library.
#include "integrity/key_text.h"

#include <gtest/gtest.h>

#include <string>

namespace launcher::integrity {
namespace {

TEST(KeyTextTest, OnlyCanonicalBase64OfTheRightLengthIsRead) {
    const unsigned char bytes[] = {0xfb, 0xff, 0x00, 0x41};
    EXPECT_EQ(ToBase64(bytes, 4), "+/8AQQ==");
    const struct {
        const char* text;
        std::size_t size;
        bool read;
    } rows[] = {
        {"+/8AQQ==", 4, true},       {" +/8AQQ==\r\n", 4, true}, {"+/8AQQ", 4, false},
        {"+/8AQR==", 4, false},      {"+/8A QQ=", 4, false},     {"-_8AQQ==", 4, false},
        {"+/8AQQ==", 3, false},      {"+/8AQQA=", 4, false},     {"", 0, true},
    };
    for (const auto& row : rows) {
        unsigned char out[8] = {};
        EXPECT_EQ(FromBase64(row.text, out, row.size), row.read) << '"' << row.text << '"';
        if (row.read && row.size == 4) {
            EXPECT_EQ(std::string(out, out + 4), std::string(bytes, bytes + 4));
        }
    }
}

}  // namespace
}  // namespace launcher::integrity

// The decompressor library the launcher loads keeps zlib's `uncompress`
// convention: the same result code and size as zlib for every kind of stream,
// since the applier tells a damaged package from a local failure by it.
#include <zlib.h>

#include <string>
#include <vector>

#include "tests/support/fakes.h"
#include "tests/support/package_bytes.h"
#include "transfer/decompressor.h"

namespace launcher {
namespace {

struct Outcome {
    int rc;
    unsigned long size;
    std::string bytes;
};

Outcome Decompress(UncompressFunction uncompress, const std::string& stream, unsigned long room) {
    std::string out(room + 1, '\0');
    unsigned long size = room;
    int rc = uncompress(reinterpret_cast<unsigned char*>(out.data()), &size,
                        reinterpret_cast<const unsigned char*>(stream.data()),
                        static_cast<unsigned long>(stream.size()));
    return {rc, rc == Z_OK ? size : 0, rc == Z_OK ? out.substr(0, size) : std::string()};
}

TEST(DecompressorLibraryTest, SameResultsAsZlib) {
    ASSERT_TRUE(test::LoadBuiltDecompressor());
    const std::string text = test::PatternBytes(300000, 5);
    const std::string good = test::Compress(text);
    std::string flipped = good;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x55);
    std::string badChecksum = good;
    badChecksum.back() = static_cast<char>(badChecksum.back() ^ 1);
    struct Case {
        const char* what;
        std::string stream;
        unsigned long room;
    };
    const std::vector<Case> cases = {
        {"whole", good, static_cast<unsigned long>(text.size())},
        {"more room than needed", good, static_cast<unsigned long>(text.size() + 100)},
        {"trailing bytes after the stream", good + "tail", static_cast<unsigned long>(text.size())},
        {"room one byte short", good, static_cast<unsigned long>(text.size() - 1)},
        {"no room", good, 0},
        {"cut short", good.substr(0, good.size() / 3), static_cast<unsigned long>(text.size())},
        {"header only", good.substr(0, 2), 100},
        {"empty input", "", 100},
        {"corrupted middle", flipped, static_cast<unsigned long>(text.size())},
        {"wrong checksum", badChecksum, static_cast<unsigned long>(text.size())},
        {"not a stream", "plain text, not compressed", 100},
        {"empty content", test::Compress(""), 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome expected = Decompress(&::uncompress, c.stream, c.room);
        const Outcome got = Decompress(g_pfnUncompress, c.stream, c.room);
        EXPECT_EQ(got.rc, expected.rc);
        EXPECT_EQ(got.size, expected.size);
        EXPECT_TRUE(got.bytes == expected.bytes);
    }
    g_pfnUncompress = nullptr;
}

}  // namespace
}  // namespace launcher

// Package bytes for tests, compressed with real zlib.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>

#include "tests/support/fakes.h"
#include "transfer/decompressor.h"

#include "transfer/package_format.h"

namespace launcher::test {

inline std::string Compress(const std::string& data, int level = Z_BEST_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                        reinterpret_cast<const Bytef*>(data.data()),
                        static_cast<uLong>(data.size()), level),
              Z_OK);
    out.resize(size);
    return out;
}

// An entry holding `data`; `declared` (when not negative) overrides the stored
// uncompressed size.
inline std::string Entry(const std::string& name, const std::string& data,
                         long long declared = -1) {
    const std::string payload = Compress(data);
    const auto size =
        static_cast<std::uint32_t>(declared < 0 ? static_cast<long long>(data.size()) : declared);
    return EncodeEntryHeader(name, size, static_cast<std::uint32_t>(payload.size())) + payload;
}

// An installation directory "install" as the current directory, inside the
// test's temporary directory, so that anything written outside it shows up as
// a stray entry beside it; the built decompressor library loaded.
class InstallationTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        ASSERT_TRUE(LoadBuiltDecompressor());
        std::filesystem::create_directory("install");
        std::filesystem::current_path("install");
    }
    void TearDown() override {
        g_pfnUncompress = nullptr;
        TempDirTest::TearDown();
    }
};

}  // namespace launcher::test

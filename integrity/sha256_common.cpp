#include <vector>

#include "integrity/sha256.h"
#include "platform/files.h"

namespace launcher::integrity {

std::string Sha256::FinishHex() {
    unsigned char digest[32];
    Finish(digest);
    static const char* const kHex = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

std::string Sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.FinishHex();
}

bool Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t& size,
                  bool throughLinks) {
    File file;
    if (!file.Open(path, throughLinks ? File::Mode::kReadThroughLinks : File::Mode::kRead))
        return false;
    Sha256 hash;
    std::vector<char> block(1 << 20);
    size = 0;
    for (;;) {
        const long long got = file.ReadSome(block.data(), block.size());
        if (got < 0) return false;
        if (got == 0) break;
        hash.Update(block.data(), static_cast<std::size_t>(got));
        size += static_cast<std::uint64_t>(got);
    }
    hex = hash.FinishHex();
    return true;
}

}  // namespace launcher::integrity

#include "integrity/sha256.h"

#include <openssl/evp.h>

#include <cstdint>
#include <vector>

#include "platform/files.h"

namespace launcher::integrity {

struct Sha256::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    Reset();
}
Sha256::~Sha256() = default;

void Sha256::Reset() {
    EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr);
}

void Sha256::Update(const void* data, std::size_t size) {
    if (size > 0) EVP_DigestUpdate(context_->md, data, size);
}

std::string Sha256::FinishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->md, digest, &length);
    static const char* const kHex = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    Reset();
    return hex;
}

std::string Sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.FinishHex();
}

bool Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t& size) {
    File file;
    if (!file.Open(path, File::Mode::kRead)) return false;
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

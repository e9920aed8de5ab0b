// SHA-256 through OpenSSL's EVP interface, which uses the CPU's SHA
// instructions where present (several times the speed of a portable one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace launcher::integrity {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Reset();
    void Update(const void* data, std::size_t size);
    // Lower-case hex of the digest of everything fed since the last Reset.
    std::string FinishHex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

std::string Sha256Hex(const std::string& bytes);
// Hashes a whole file; false when it cannot be read.
bool Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t& size);

}  // namespace launcher::integrity

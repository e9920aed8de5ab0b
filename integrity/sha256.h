// SHA-256: OpenSSL's EVP interface on Linux, libgcrypt on Windows; both use
// the CPU's SHA instructions where present (several times a portable one).
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
    // The digest of everything fed since the last Reset; Reset after.
    void Finish(unsigned char (&digest)[32]);

    struct Context;
    std::unique_ptr<Context> context_;
};

std::string Sha256Hex(const std::string& bytes);
// Hashes a whole file; false when it cannot be read. A link at `path` is
// followed only `throughLinks` (a file the operator names).
bool Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t& size,
                  bool throughLinks = false);

}  // namespace launcher::integrity

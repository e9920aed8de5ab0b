#include <cstring>

#include "integrity/gcrypt_ready.h"
#include "integrity/sha256.h"

namespace launcher::integrity {

struct Sha256::Context {
    gcry_md_hd_t md = nullptr;
    Context() {
        if (GcryptReady()) gcry_md_open(&md, GCRY_MD_SHA256, 0);
    }
    ~Context() { gcry_md_close(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {}
Sha256::~Sha256() = default;

void Sha256::Reset() {
    if (context_->md) gcry_md_reset(context_->md);
}

void Sha256::Update(const void* data, std::size_t size) {
    if (context_->md && size > 0) gcry_md_write(context_->md, data, size);
}

void Sha256::Finish(unsigned char (&digest)[32]) {
    // Without a handle the digest is all zero and matches no file's hash.
    std::memset(digest, 0, sizeof digest);
    if (!context_->md) return;
    std::memcpy(digest, gcry_md_read(context_->md, GCRY_MD_SHA256), sizeof digest);
    Reset();
}

}  // namespace launcher::integrity

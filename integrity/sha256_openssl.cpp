#include "integrity/sha256.h"

#include <openssl/evp.h>

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

void Sha256::Finish(unsigned char (&digest)[32]) {
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->md, digest, &length);
    Reset();
}

}  // namespace launcher::integrity

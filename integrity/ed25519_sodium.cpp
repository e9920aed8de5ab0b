// Ed25519 through libsodium.
#include <sodium.h>

#include "integrity/ed25519.h"
#include "integrity/key_text.h"

namespace launcher::integrity {

namespace {

bool Ready() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

}  // namespace

bool GenerateKeyPair(std::string& publicKeyBase64, std::string& secretKeyBase64) {
    if (!Ready()) return false;
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(pk, sk);
    publicKeyBase64 = ToBase64(pk, sizeof pk);
    secretKeyBase64 = ToBase64(sk, sizeof sk);
    sodium_memzero(sk, sizeof sk);
    return true;
}

std::string SignMessage(const std::string& message, const std::string& secretKeyBase64) {
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    if (!Ready() || !FromBase64(secretKeyBase64, sk, sizeof sk)) return "";
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), sk);
    sodium_memzero(sk, sizeof sk);
    return ToBase64(signature, sizeof signature);
}

bool VerifySignature(const std::string& message, const std::string& signatureBase64,
                     const std::string& publicKeyBase64) {
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    unsigned char signature[crypto_sign_BYTES];
    return Ready() && FromBase64(publicKeyBase64, pk, sizeof pk) &&
           FromBase64(signatureBase64, signature, sizeof signature) &&
           crypto_sign_verify_detached(signature,
                                       reinterpret_cast<const unsigned char*>(message.data()),
                                       message.size(), pk) == 0;
}

std::string PublicKeyOf(const std::string& secretKeyBase64) {
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    if (!Ready() || !FromBase64(secretKeyBase64, sk, sizeof sk)) return "";
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_ed25519_sk_to_pk(pk, sk);
    sodium_memzero(sk, sizeof sk);
    return ToBase64(pk, sizeof pk);
}

}  // namespace launcher::integrity

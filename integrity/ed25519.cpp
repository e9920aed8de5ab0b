#include "integrity/ed25519.h"

#include <sodium.h>

namespace launcher::integrity {

namespace {

bool Ready() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

std::string ToBase64(const unsigned char* bytes, std::size_t size) {
    std::string text(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.find('\0'));
    return text;
}

// Exactly `size` bytes or nothing.
bool FromBase64(const std::string& text, unsigned char* bytes, std::size_t size) {
    std::size_t length = 0;
    return sodium_base642bin(bytes, size, text.data(), text.size(), nullptr, &length, nullptr,
                             sodium_base64_VARIANT_ORIGINAL) == 0 &&
           length == size;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
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
    if (!Ready() || !FromBase64(Trimmed(secretKeyBase64), sk, sizeof sk)) return "";
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
    return Ready() && FromBase64(Trimmed(publicKeyBase64), pk, sizeof pk) &&
           FromBase64(Trimmed(signatureBase64), signature, sizeof signature) &&
           crypto_sign_verify_detached(signature,
                                       reinterpret_cast<const unsigned char*>(message.data()),
                                       message.size(), pk) == 0;
}

std::string PublicKeyOf(const std::string& secretKeyBase64) {
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    if (!Ready() || !FromBase64(Trimmed(secretKeyBase64), sk, sizeof sk)) return "";
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_ed25519_sk_to_pk(pk, sk);
    sodium_memzero(sk, sizeof sk);
    return ToBase64(pk, sizeof pk);
}

std::vector<std::string> SplitKeyList(const std::string& list) {
    std::vector<std::string> keys;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        std::string key = Trimmed(list.substr(start, end - start));
        if (!key.empty()) keys.push_back(key);
        start = end + 1;
    }
    return keys;
}

}  // namespace launcher::integrity

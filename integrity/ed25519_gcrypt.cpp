// Ed25519 through libgcrypt, for the Windows builds (Debian has no libsodium
// for MinGW). Keys and signatures are those of the libsodium build: a secret
// key is the seed followed by the public key, a signature is R followed by S.
#include <cstring>

#include "integrity/ed25519.h"
#include "integrity/gcrypt_ready.h"
#include "integrity/key_text.h"

namespace launcher::integrity {

namespace {

constexpr std::size_t kPublicKeyBytes = 32;
constexpr std::size_t kSeedBytes = 32;
constexpr std::size_t kSecretKeyBytes = kSeedBytes + kPublicKeyBytes;
constexpr std::size_t kSignatureBytes = 64;

bool Ready() { return GcryptReady(); }

class Sexp {
public:
    Sexp() = default;
    explicit Sexp(gcry_sexp_t sexp) : sexp_(sexp) {}
    ~Sexp() { gcry_sexp_release(sexp_); }
    Sexp(const Sexp&) = delete;
    Sexp& operator=(const Sexp&) = delete;
    gcry_sexp_t* out() { return &sexp_; }
    gcry_sexp_t get() const { return sexp_; }

    // The value after `token`, right-aligned into `size` bytes; an EdDSA
    // point may also come with its 0x40 prefix.
    bool Value(const char* token, unsigned char* bytes, std::size_t size) const {
        Sexp found(gcry_sexp_find_token(sexp_, token, 0));
        if (!found.get()) return false;
        std::size_t length = 0;
        const char* data = gcry_sexp_nth_data(found.get(), 1, &length);
        if (!data) return false;
        if (length == size + 1 && static_cast<unsigned char>(data[0]) == 0x40) {
            ++data;
            --length;
        }
        if (length > size) return false;
        std::memset(bytes, 0, size - length);
        std::memcpy(bytes + size - length, data, length);
        return true;
    }

private:
    gcry_sexp_t sexp_ = nullptr;
};

bool BuildData(Sexp& data, const std::string& message) {
    return gcry_sexp_build(data.out(), nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                           static_cast<int>(message.size()), message.data()) == 0;
}

}  // namespace

bool GenerateKeyPair(std::string& publicKeyBase64, std::string& secretKeyBase64) {
    if (!Ready()) return false;
    Sexp parameters;
    Sexp key;
    unsigned char sk[kSecretKeyBytes];
    if (gcry_sexp_build(parameters.out(), nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))") ||
        gcry_pk_genkey(key.out(), parameters.get()) || !key.Value("d", sk, kSeedBytes) ||
        !key.Value("q", sk + kSeedBytes, kPublicKeyBytes))
        return false;
    publicKeyBase64 = ToBase64(sk + kSeedBytes, kPublicKeyBytes);
    secretKeyBase64 = ToBase64(sk, sizeof sk);
    gcry_create_nonce(sk, sizeof sk);  // overwritten, not left behind
    return true;
}

std::string SignMessage(const std::string& message, const std::string& secretKeyBase64) {
    unsigned char sk[kSecretKeyBytes];
    if (!Ready() || !FromBase64(secretKeyBase64, sk, sizeof sk)) return "";
    Sexp key;
    Sexp data;
    Sexp signature;
    unsigned char bytes[kSignatureBytes];
    const bool signedOk =
        gcry_sexp_build(key.out(), nullptr,
                        "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))",
                        static_cast<int>(kPublicKeyBytes), sk + kSeedBytes,
                        static_cast<int>(kSeedBytes), sk) == 0 &&
        BuildData(data, message) && gcry_pk_sign(signature.out(), data.get(), key.get()) == 0 &&
        signature.Value("r", bytes, 32) && signature.Value("s", bytes + 32, 32);
    gcry_create_nonce(sk, sizeof sk);
    return signedOk ? ToBase64(bytes, sizeof bytes) : "";
}

bool VerifySignature(const std::string& message, const std::string& signatureBase64,
                     const std::string& publicKeyBase64) {
    unsigned char pk[kPublicKeyBytes];
    unsigned char bytes[kSignatureBytes];
    if (!Ready() || !FromBase64(publicKeyBase64, pk, sizeof pk) ||
        !FromBase64(signatureBase64, bytes, sizeof bytes))
        return false;
    Sexp key;
    Sexp data;
    Sexp signature;
    return gcry_sexp_build(key.out(), nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                           static_cast<int>(sizeof pk), pk) == 0 &&
           gcry_sexp_build(signature.out(), nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, bytes,
                           32, bytes + 32) == 0 &&
           BuildData(data, message) && gcry_pk_verify(signature.get(), data.get(), key.get()) == 0;
}

std::string PublicKeyOf(const std::string& secretKeyBase64) {
    unsigned char sk[kSecretKeyBytes];
    if (!Ready() || !FromBase64(secretKeyBase64, sk, sizeof sk)) return "";
    return ToBase64(sk + kSeedBytes, kPublicKeyBytes);
}

}  // namespace launcher::integrity

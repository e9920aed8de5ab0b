// Ed25519 keys and signatures (libsodium on Linux, libgcrypt on Windows).
// Keys and signatures travel as base64 text: a public key is 32 bytes, a
// secret key 64 (the 32-byte seed, then the public key), a signature 64.
#pragma once

#include <string>
#include <vector>

namespace launcher::integrity {

// False when the library cannot be initialised.
bool GenerateKeyPair(std::string& publicKeyBase64, std::string& secretKeyBase64);
// The base64 signature of `message`, empty when the secret key is unusable.
std::string SignMessage(const std::string& message, const std::string& secretKeyBase64);
bool VerifySignature(const std::string& message, const std::string& signatureBase64,
                     const std::string& publicKeyBase64);
// The public key that belongs to a secret key, empty when it is unusable.
std::string PublicKeyOf(const std::string& secretKeyBase64);
// "KEY1;KEY2" -> the keys, blanks around them dropped.
std::vector<std::string> SplitKeyList(const std::string& list);

}  // namespace launcher::integrity

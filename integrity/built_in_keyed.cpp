// The verifier of a build that carries public keys (LAUNCHER_UPDATE_PUBLIC_KEY).
#include "build_values.h"
#include "integrity/ed25519.h"
#include "integrity/signed_update_verifier.h"

namespace launcher {

std::shared_ptr<IUpdateVerifier> BuiltInUpdateVerifier() {
    return std::make_shared<integrity::SignedUpdateVerifier>(
        integrity::SplitKeyList(LAUNCHER_UPDATE_PUBLIC_KEY));
}

}  // namespace launcher

namespace launcher {

std::function<bool(const std::string&, std::string&)> BuiltInReplacementCheck() {
    return [](const std::string& replacement, std::string& why) {
        return integrity::CheckReplacement(replacement, kReplacementManifest,
                                           integrity::SplitKeyList(LAUNCHER_UPDATE_PUBLIC_KEY),
                                           why);
    };
}

}  // namespace launcher

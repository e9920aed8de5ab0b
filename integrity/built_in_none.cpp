// A build without a public key: updates are taken as the version list says,
// and nothing here needs a cryptography library.
#include "engine/update_verifier.h"

namespace launcher {

std::shared_ptr<IUpdateVerifier> BuiltInUpdateVerifier() {
    return nullptr;
}

}  // namespace launcher

namespace launcher {

std::function<bool(const std::string&, std::string&)> BuiltInReplacementCheck() {
    return {};
}

}  // namespace launcher

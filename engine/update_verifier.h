// Signed updates, as the engine sees them. A build with a public key carries a
// verifier; without one the engine has none and behaves as it always did, so
// this header needs no cryptography library.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transfer/file_check.h"

namespace launcher {

class IUpdateVerifier {
public:
    virtual ~IUpdateVerifier() = default;
    // Checks the signed manifest's text against the version list just read
    // (its launcher version and latest patch number) and the installation's
    // state; on success it becomes the manifest of this run. False with `why`.
    virtual bool Accept(const std::string& manifestText, const std::string& launcherVersion,
                        int latest, std::string& why) = 0;
    // A check for `fileName` from the accepted manifest; null when the manifest
    // does not list it.
    virtual std::unique_ptr<IFileCheck> CheckFor(const std::string& fileName) = 0;
    // The accepted manifest's text, handed to the updater by a file.
    virtual std::string AcceptedText() const = 0;
};

// The verifier this build carries: null when it was built without a key.
std::shared_ptr<IUpdateVerifier> BuiltInUpdateVerifier();

// The updater's check of the replacement right before the swap (against the
// manifest in kReplacementManifest): empty when built without a key.
std::function<bool(const std::string& replacement, std::string& why)> BuiltInReplacementCheck();

// The file beside the replacement launcher that tells the updater what the
// launcher verified.
inline constexpr const char* kReplacementManifest = "Launcher.exe_.manifest";

}  // namespace launcher

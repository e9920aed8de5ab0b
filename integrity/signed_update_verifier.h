// The verifier of a build with public keys: Ed25519 over the manifest, the
// serial kept beside the client version file, SHA-256 of every fetched file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/update_verifier.h"
#include "integrity/update_manifest.h"

namespace launcher::integrity {

// The highest serial this installation accepted, beside PRESENTVERSION.DAT.
inline constexpr const char* kSerialFile = "UPDATESERIAL.DAT";

class SignedUpdateVerifier final : public IUpdateVerifier {
public:
    // `publicKeys`: base64, any one may have signed (key rotation). `now`:
    // seconds since 1970; the system clock when empty. `serialFile`: where the
    // accepted serial is kept (mkpatch checks a release against a scratch one).
    explicit SignedUpdateVerifier(std::vector<std::string> publicKeys,
                                  std::function<std::int64_t()> now = {},
                                  std::string serialFile = kSerialFile);

    bool Accept(const std::string& manifestText, const std::string& launcherVersion, int latest,
                std::string& why) override;
    std::unique_ptr<IFileCheck> CheckFor(const std::string& fileName) override;
    std::string AcceptedText() const override { return acceptedText_; }

private:
    std::vector<std::string> publicKeys_;
    std::function<std::int64_t()> now_;
    std::string serialFile_;
    std::string acceptedText_;
    UpdateManifest accepted_;
};

// A check of one file against its manifest entry.
std::unique_ptr<IFileCheck> MakeFileCheck(const ManifestFile& entry);

// The updater's last look before the swap: the manifest in `manifestPath`
// (handed over by the launcher) must still carry a signature of one of
// `publicKeys`, and `replacement` must be the file it lists as "Launcher.exe_".
// False with `why`.
bool CheckReplacement(const std::string& replacement, const std::string& manifestPath,
                      const std::vector<std::string>& publicKeys, std::string& why);

}  // namespace launcher::integrity

// The content hash the programs carry: SHA-256 where a cryptography library
// was found, none otherwise.
#include "transfer/content_hash.h"

#ifdef LAUNCHER_HAVE_SHA256
#include "integrity/sha256.h"
#endif

namespace launcher {

#ifdef LAUNCHER_HAVE_SHA256
namespace {

class Sha256Hash final : public IContentHash {
public:
    void Update(const void* data, std::size_t size) override { hash_.Update(data, size); }
    std::string FinishHex() override { return hash_.FinishHex(); }

private:
    integrity::Sha256 hash_;
};

}  // namespace

ContentHashMaker BuiltInContentHash() {
    return [] { return std::make_unique<Sha256Hash>(); };
}
#else
ContentHashMaker BuiltInContentHash() {
    return {};
}
#endif

}  // namespace launcher

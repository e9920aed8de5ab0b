// mkpatch built without the cryptography libraries: keys, signing and the
// file index are not available.
#include <chrono>
#include <filesystem>
#include <ostream>

#include "tools/mkpatch/mkpatch.h"

namespace launcher::mkpatch {

namespace {

int Unavailable(std::ostream& err) {
    err << "mkpatch: built without libsodium; keygen, sign and the file index are not "
           "available\n";
    return kFailed;
}

}  // namespace

int KeyGen(const std::string&, std::ostream&, std::ostream& err) {
    return Unavailable(err);
}
int Sign(const SignOptions&, std::ostream&, std::ostream& err) {
    return Unavailable(err);
}

bool IndexAvailable() { return false; }
int Index(const IndexOptions&, std::ostream&, std::ostream& err) {
    return Unavailable(err);
}
int VerifyIndex(const IndexOptions&, std::ostream&, std::ostream& err) {
    return Unavailable(err);
}

int CheckSignedRelease(const std::string&, const std::string&, const std::string&,
                       const std::string&, std::ostream&, std::ostream& err, const std::string&) {
    return Unavailable(err);
}

int CheckSignedManifest(const std::string& listFile, const std::string&, int, std::int64_t,
                        std::ostream& out) {
    const auto path = std::filesystem::path(listFile).parent_path() / "SERVERVER.SIG";
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        out << "note: " << path.string() << " is not checked (built without libsodium)\n";
    }
    return 0;
}

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace launcher::mkpatch

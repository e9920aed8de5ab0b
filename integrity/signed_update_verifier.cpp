#include "integrity/signed_update_verifier.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "integrity/ed25519.h"
#include "integrity/sha256.h"
#include "platform/files.h"

namespace launcher::integrity {

namespace {

constexpr const char* kReplacementName = "Launcher.exe_";
// A serial is the time of signing in seconds. One further ahead than this
// (in milliseconds, say) would, once stored, refuse every later release as a
// replay; it is not stored.
constexpr std::int64_t kSerialHorizon = 365 * 86400;

// Hashes on a thread of its own, so that the download thread only copies:
// delivered bytes are gathered into a few large buffers, which the hashing
// thread takes in order.
class Sha256FileCheck final : public IFileCheck {
public:
    explicit Sha256FileCheck(ManifestFile entry) : entry_(std::move(entry)) {
        for (auto& buffer : buffers_) buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
        try {
            worker_ = std::thread([this] { Work(); });
        } catch (const std::system_error&) {
            // No thread to be had: HandOver hashes in place.
        }
    }
    ~Sha256FileCheck() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        if (worker_.joinable()) worker_.join();
    }
    std::uint64_t Size() const override { return entry_.size; }
    void Begin() override {
        // What an abandoned attempt handed over is hashed and then discarded.
        Drain();
        hash_.Reset();
        filled_ = 0;
        fed_ = 0;
    }
    void Update(const char* data, std::size_t size) override {
        fed_ += size;
        while (size > 0) {
            const std::size_t n = std::min(size, kBufferSize - filled_);
            std::memcpy(buffers_[filling_].get() + filled_, data, n);
            filled_ += n;
            data += n;
            size -= n;
            if (filled_ == kBufferSize) HandOver();
        }
    }
    bool Matches() override {
        if (filled_ > 0) HandOver();
        Drain();
        return fed_ == entry_.size && hash_.FinishHex() == entry_.sha256;
    }

private:
    static constexpr std::size_t kBuffers = 3;
    static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

    // Queues the buffer being filled and waits until the next one is free.
    void HandOver() {
        if (!worker_.joinable()) {
            hash_.Update(buffers_[filling_].get(), filled_);
            filled_ = 0;
            return;
        }
        std::unique_lock lock(mutex_);
        lengths_[filling_] = filled_;
        ++queued_;
        changed_.notify_all();
        filling_ = (filling_ + 1) % kBuffers;
        filled_ = 0;
        changed_.wait(lock, [this] { return queued_ < kBuffers; });
    }

    // Afterwards hash_ belongs to the calling thread until the next HandOver.
    void Drain() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return queued_ == 0; });
    }

    // Takes the buffers in the order they were filled: with none queued, the
    // next one to hash is the one being filled.
    void Work() {
        std::size_t next = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || queued_ > 0; });
            if (quit_) return;
            const std::size_t length = lengths_[next];
            lock.unlock();
            hash_.Update(buffers_[next].get(), length);
            lock.lock();
            next = (next + 1) % kBuffers;
            --queued_;
            changed_.notify_all();
        }
    }

    ManifestFile entry_;
    Sha256 hash_;
    std::uint64_t fed_ = 0;
    std::array<std::unique_ptr<char[]>, kBuffers> buffers_;
    std::array<std::size_t, kBuffers> lengths_{};
    std::size_t filling_ = 0;  // the download thread's buffer
    std::size_t filled_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t queued_ = 0;  // handed over, not yet hashed
    bool quit_ = false;
    std::thread worker_;
};

// The serial accepted last, 0 before the first release. False, with `why`,
// when something stands at the name that cannot be read: taking that for 0
// would let an old release back in.
bool StoredSerial(const std::string& serialFile, std::uint64_t& serial, std::string& why) {
    serial = 0;
    std::string text;
    if (!ReadWholeFile(serialFile, text, &why)) {
        if (!PathExists(serialFile)) return true;
        why = std::string("the serial accepted before cannot be read from ") + serialFile +
              ": " + why;
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') break;
        serial = serial * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

std::int64_t SystemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

SignedUpdateVerifier::SignedUpdateVerifier(std::vector<std::string> publicKeys,
                                           std::function<std::int64_t()> now,
                                           std::string serialFile)
    : publicKeys_(std::move(publicKeys)),
      now_(now ? std::move(now) : SystemNow),
      serialFile_(std::move(serialFile)) {}

bool SignedUpdateVerifier::Accept(const std::string& manifestText,
                                  const std::string& launcherVersion, int latest,
                                  std::string& why) {
    std::string body;
    std::string signature;
    UpdateManifest manifest;
    if (!ParseSignedManifest(manifestText, body, signature, manifest, why)) {
        why = "the signed manifest is not readable: " + why;
        return false;
    }
    bool signedByUs = false;
    for (const std::string& key : publicKeys_)
        signedByUs = signedByUs || VerifySignature(body, signature, key);
    if (!signedByUs) {
        why = "the signature of the manifest does not verify with the launcher's public key";
        return false;
    }
    if (manifest.launcherVersion != launcherVersion || manifest.latest != latest) {
        why = "the signed manifest (launcher " + manifest.launcherVersion + ", latest patch " +
              std::to_string(manifest.latest) + ") does not match the version list (launcher " +
              launcherVersion + ", latest patch " + std::to_string(latest) + ")";
        return false;
    }
    const std::int64_t now = now_();
    const std::uint64_t horizon =
        now > -kSerialHorizon ? static_cast<std::uint64_t>(now + kSerialHorizon) : 0;
    if (manifest.serial > horizon) {
        why = "the signed manifest has serial " + std::to_string(manifest.serial) +
              ", more than a year ahead of this computer's clock (" + std::to_string(now) +
              " seconds since 1970); stored, it would refuse every later release as a replay";
        return false;
    }
    std::uint64_t stored = 0;
    if (!StoredSerial(serialFile_, stored, why)) return false;
    if (manifest.serial < stored) {
        why = "the signed manifest has serial " + std::to_string(manifest.serial) +
              ", older than serial " + std::to_string(stored) +
              " already accepted here (a replayed old release)";
        return false;
    }
    if (manifest.expires <= now) {
        why = "the signed manifest expired at " + std::to_string(manifest.expires) +
              " (seconds since 1970); the server's release is stale";
        return false;
    }
    if (manifest.serial > stored) {
        const std::string text = std::to_string(manifest.serial);
        if (!ReplaceFileAtomically(serialFile_, text.data(), text.size())) {
            why = "the accepted serial could not be written to " + serialFile_;
            return false;
        }
    }
    accepted_ = std::move(manifest);
    acceptedText_ = manifestText;
    return true;
}

std::unique_ptr<IFileCheck> SignedUpdateVerifier::CheckFor(const std::string& fileName) {
    auto it = accepted_.files.find(fileName);
    if (it == accepted_.files.end()) return nullptr;
    return MakeFileCheck(it->second);
}

std::unique_ptr<IFileCheck> MakeFileCheck(const ManifestFile& entry) {
    return std::make_unique<Sha256FileCheck>(entry);
}

bool CheckReplacement(const std::string& replacement, const std::string& manifestPath,
                      const std::vector<std::string>& publicKeys, std::string& why) {
    std::string text;
    const bool readable = ReadWholeFile(manifestPath, text, &why);
    // It serves this one hand-over.
    RemoveFile(manifestPath);
    if (!readable) {
        why = "no verified manifest (" + manifestPath + ") beside the replacement: " + why;
        return false;
    }
    std::string body;
    std::string signature;
    UpdateManifest manifest;
    if (!ParseSignedManifest(text, body, signature, manifest, why)) {
        why = manifestPath + " is not readable: " + why;
        return false;
    }
    // The file lay in the installation directory between the two programs.
    bool signedByUs = false;
    for (const std::string& key : publicKeys)
        signedByUs = signedByUs || VerifySignature(body, signature, key);
    if (!signedByUs) {
        why = manifestPath + " does not carry a valid signature";
        return false;
    }
    auto it = manifest.files.find(kReplacementName);
    if (it == manifest.files.end()) {
        why = manifestPath + " lists no " + kReplacementName;
        return false;
    }
    std::string hex;
    std::uint64_t size = 0;
    if (!Sha256OfFile(replacement, hex, size)) {
        why = "cannot read " + replacement;
        return false;
    }
    if (size != it->second.size || hex != it->second.sha256) {
        why = std::string(kReplacementName) +
              " is not the file the launcher verified (size or SHA-256 differs)";
        return false;
    }
    return true;
}

}  // namespace launcher::integrity

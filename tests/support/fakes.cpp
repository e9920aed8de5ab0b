#include "tests/support/fakes.h"

#include "platform/library.h"
#include "transfer/decompressor.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace launcher::test {

std::string OwnerCall::Describe() const {
    std::ostringstream os;
    switch (kind) {
        case Kind::kShow: os << "Show(" << control << ", " << show << ")"; break;
        case Kind::kText: os << "Text(" << control << ", \"" << text << "\")"; break;
        case Kind::kMessage:
            os << "Msg(" << control << ", 0x" << std::hex << message << std::dec << ", " << wParam
               << ", " << lParam << ")";
            break;
        case Kind::kCancel: os << "Cancel()"; break;
    }
    return os.str();
}

void PrintTo(const OwnerCall& call, std::ostream* os) { *os << call.Describe(); }

OwnerCall Show(int control, int command) {
    OwnerCall c;
    c.kind = OwnerCall::Kind::kShow;
    c.control = control;
    c.show = command;
    return c;
}
OwnerCall Text(int control, std::string text) {
    OwnerCall c;
    c.kind = OwnerCall::Kind::kText;
    c.control = control;
    c.text = std::move(text);
    return c;
}
OwnerCall Msg(int control, unsigned message, std::uint32_t wParam, std::uint32_t lParam) {
    OwnerCall c;
    c.kind = OwnerCall::Kind::kMessage;
    c.control = control;
    c.message = message;
    c.wParam = wParam;
    c.lParam = lParam;
    return c;
}
OwnerCall Cancel() {
    OwnerCall c;
    c.kind = OwnerCall::Kind::kCancel;
    return c;
}

void RecordingOwner::ShowControl(int controlId, int showCommand) {
    std::lock_guard lock(mutex_);
    calls_.push_back(Show(controlId, showCommand));
}
void RecordingOwner::SetControlText(int controlId, const std::string& text) {
    std::lock_guard lock(mutex_);
    calls_.push_back(Text(controlId, text));
}
void RecordingOwner::SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                                   std::uint32_t lParam) {
    std::lock_guard lock(mutex_);
    calls_.push_back(Msg(controlId, message, wParam, lParam));
}
void RecordingOwner::OnCancel() {
    std::lock_guard lock(mutex_);
    calls_.push_back(Cancel());
}
std::vector<OwnerCall> RecordingOwner::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}
std::vector<OwnerCall> RecordingOwner::MessagesTo(int control, unsigned message) const {
    std::lock_guard lock(mutex_);
    std::vector<OwnerCall> out;
    for (const auto& c : calls_)
        if (c.kind == OwnerCall::Kind::kMessage && c.control == control && c.message == message)
            out.push_back(c);
    return out;
}
std::vector<OwnerCall> RecordingOwner::ShowsAndTexts() const {
    std::lock_guard lock(mutex_);
    std::vector<OwnerCall> out;
    for (const auto& c : calls_)
        if (c.kind == OwnerCall::Kind::kShow || c.kind == OwnerCall::Kind::kText ||
            c.kind == OwnerCall::Kind::kCancel)
            out.push_back(c);
    return out;
}
void RecordingOwner::Clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void FakeClock::Sleep(unsigned ms, StopFlag*) {
    std::lock_guard lock(mutex_);
    pauses_.push_back(ms);
    tick_ += ms;
}
std::uint32_t FakeClock::TickCount() {
    std::lock_guard lock(mutex_);
    return tick_;
}
void FakeClock::SetTick(std::uint32_t tick) {
    std::lock_guard lock(mutex_);
    tick_ = tick;
}
std::vector<unsigned> FakeClock::Pauses() const {
    std::lock_guard lock(mutex_);
    return pauses_;
}

void RecordingMessageBoxes::Show(const std::string& caption, const std::string& text) {
    std::lock_guard lock(mutex_);
    boxes_.push_back({caption, text});
}
std::vector<RecordingMessageBoxes::Box> RecordingMessageBoxes::Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}
std::vector<std::string> RecordingMessageBoxes::Texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& b : boxes_) out.push_back(b.text);
    return out;
}

void TempDirTest::SetUp() {
    namespace fs = std::filesystem;
    previous_ = fs::current_path().string();
    // A directory of our own: create_directory fails on a name already taken.
    std::random_device random;
    for (int attempt = 0; dir_.empty() && attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() /
                                   ("launcher-test-" + std::to_string(random()) + "-" +
                                    std::to_string(attempt));
        if (fs::create_directory(candidate)) dir_ = candidate.string();
    }
    ASSERT_FALSE(dir_.empty());
    fs::current_path(dir_);
}

void TempDirTest::TearDown() {
    namespace fs = std::filesystem;
    fs::current_path(previous_);
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
}

void TempDirTest::WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string TempDirTest::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool TempDirTest::Exists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<OwnerCall> FetcherStartMessages() {
    return {Msg(kIdProgressFile, kPbmSetPos, 0, 0),
            Msg(kIdProgressTotal, kPbmSetPos, 0, 0),
            Msg(kIdProgressFile, kPbmSetBkColor, 0, 0),
            Msg(kIdProgressFile, kPbmSetBarColor, 0, 0x00FFA420),
            Msg(kIdProgressTotal, kPbmSetBkColor, 0, 0),
            Msg(kIdProgressTotal, kPbmSetBarColor, 0, 0x0000FF3C)};
}

bool LoadBuiltDecompressor() {
#ifdef _WIN32
    // Beside the test program, the one place Windows builds load it from.
    const std::string library = SharedLibraryFileName(kDecompressorLibrary);
#else
    const std::string library =
        std::string(LAUNCHER_BIN_DIR) + "/" + SharedLibraryFileName(kDecompressorLibrary);
#endif
    g_pfnUncompress =
        reinterpret_cast<UncompressFunction>(LoadLibrarySymbol(library, kDecompressorEntry));
    return g_pfnUncompress != nullptr;
}

std::string PatternBytes(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& ch : out) {
        x = x * 1664525u + 1013904223u;
        ch = static_cast<char>(x >> 24);
    }
    return out;
}

}  // namespace launcher::test

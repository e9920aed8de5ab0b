// Fakes for the two things tests may not use for real: the window (a recording
// owner) and the clock. Also recording message boxes and a temporary current
// directory.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

#include "owner/engine_owner.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/stop_flag.h"

namespace launcher::test {

// One call the engine made on its owner.
struct OwnerCall {
    enum class Kind { kShow, kText, kMessage, kCancel };
    Kind kind = Kind::kShow;
    int control = 0;
    unsigned message = 0;  // kMessage
    std::uint32_t wParam = 0;
    std::uint32_t lParam = 0;
    int show = 0;          // kShow
    std::string text;      // kText

    bool operator==(const OwnerCall&) const = default;
    std::string Describe() const;
};

OwnerCall Show(int control, int command);
OwnerCall Text(int control, std::string text);
OwnerCall Msg(int control, unsigned message, std::uint32_t wParam, std::uint32_t lParam);
OwnerCall Cancel();
void PrintTo(const OwnerCall& call, std::ostream* os);

class RecordingOwner : public IEngineOwner {
public:
    void ShowControl(int controlId, int showCommand) override;
    void SetControlText(int controlId, const std::string& text) override;
    void SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                       std::uint32_t lParam) override;
    void OnCancel() override;

    std::vector<OwnerCall> Calls() const;
    // Only the calls of one kind/target, to compare with a table.
    std::vector<OwnerCall> MessagesTo(int control, unsigned message) const;
    std::vector<OwnerCall> ShowsAndTexts() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<OwnerCall> calls_;
};

// A clock whose pauses take no time; records them and advances its tick.
class FakeClock : public IClock {
public:
    void Sleep(unsigned ms, StopFlag* stop) override;
    std::uint32_t TickCount() override;
    void SetTick(std::uint32_t tick);
    std::vector<unsigned> Pauses() const;

private:
    mutable std::mutex mutex_;
    std::uint32_t tick_ = 0;
    std::vector<unsigned> pauses_;
};

class RecordingMessageBoxes : public IMessageBoxes {
public:
    void Show(const std::string& caption, const std::string& text) override;
    struct Box {
        std::string caption;
        std::string text;
        bool operator==(const Box&) const = default;
    };
    std::vector<Box> Boxes() const;
    std::vector<std::string> Texts() const;

private:
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
};

// Makes a fresh temporary directory the current directory for one test and
// goes back (and removes it) afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    const std::string& Dir() const { return dir_; }

    static void WriteFile(const std::string& path, const std::string& contents);
    static std::string ReadFile(const std::string& path);
    static bool Exists(const std::string& path);

private:
    std::string previous_;
    std::string dir_;
};

// The six messages the fetcher sends at the start of every attempt.
std::vector<OwnerCall> FetcherStartMessages();

// Loads the built decompressor library into g_pfnUncompress; false when missing.
bool LoadBuiltDecompressor();

// Deterministic test content of `size` bytes.
std::string PatternBytes(std::size_t size, unsigned seed = 1);

}  // namespace launcher::test

// The console's stand-in for the launcher window: the engine's controls and
// progress as text on stderr.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "owner/engine_owner.h"
#include "platform/clock.h"
#include "window/rate_estimator.h"

namespace launcher {

class TerminalOwner final : public IEngineOwner {
public:
    // `barsOnTerminal`: redraw one progress line in place; otherwise print
    // plain lines (one per file and per quarter of a file).
    TerminalOwner(std::FILE* out, bool barsOnTerminal, IClock& clock);

    void ShowControl(int controlId, int showCommand) override;
    void SetControlText(int controlId, const std::string& text) override;
    void SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                       std::uint32_t lParam) override;
    void OnCancel() override;

    bool CloseRequested() const { return closeRequested_; }
    // Ends a progress line in progress so that later output starts cleanly.
    void FinishLine();
    // "downloaded 107.9 MiB in 42.0 s (2.6 MiB/s)"; empty when nothing came.
    std::string Summary() const;

private:
    void OnProgress(std::uint32_t present, std::uint32_t announced);
    void DrawBars(std::uint32_t present, std::uint32_t announced);
    void ReportRate(std::uint32_t now);
    // "  2.4 MiB/s  剩余 0:42" while the speed is known, else empty.
    std::string SpeedSuffix(std::uint32_t present, std::uint32_t announced) const;

    std::FILE* out_;
    bool bars_;
    IClock& clock_;
    std::string texts_[2];  // status line (1013), note (1015)
    std::uint32_t lastDraw_ = 0;
    bool lineOpen_ = false;
    int totalPosition_ = 0;
    int lastQuarter_ = -1;
    bool closeRequested_ = false;
    bool doneShown_ = false;
    // The file being measured for its transfer rate.
    std::uint32_t fileAnnounced_ = 0;
    std::uint32_t filePresent_ = 0;
    std::uint32_t fileStartBytes_ = 0;
    std::uint32_t fileStartTick_ = 0;
    ui::RateEstimator rate_;
    // The whole run: bytes received and the ticks of the first and last.
    std::uint64_t downloaded_ = 0;
    bool measuring_ = false;
    std::uint32_t firstTick_ = 0;
    std::uint32_t lastTick_ = 0;
};

// "999 B" / "12.3 MiB" style amounts for the console.
std::string FormatAmount(std::uint32_t bytes);

}  // namespace launcher

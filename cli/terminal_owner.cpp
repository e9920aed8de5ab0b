#include "cli/terminal_owner.h"

#include "cli/printable_text.h"
#include "engine/run_log.h"

namespace launcher {

namespace {

constexpr std::uint32_t kRedrawIntervalMs = 100;
constexpr int kBarWidth = 24;

std::string Bar(std::uint64_t done, std::uint64_t whole) {
    const std::uint64_t filled = whole ? done * kBarWidth / whole : 0;
    std::string bar(kBarWidth, '-');
    for (std::size_t i = 0; i < filled && i < kBarWidth; ++i) bar[i] = '#';
    return "[" + bar + "]";
}

}  // namespace

std::string FormatAmount(std::uint32_t bytes) { return ByteCount(bytes); }

std::string TerminalOwner::Summary() const {
    if (downloaded_ == 0) return {};
    const double seconds = (lastTick_ - firstTick_) / 1000.0;
    char text[96];
    std::snprintf(text, sizeof text, "downloaded %s in %.1f s", ByteCount(downloaded_).c_str(),
                  seconds);
    std::string line = text;
    if (seconds > 0)
        line += " (" + ByteCount(static_cast<std::uint64_t>(static_cast<double>(downloaded_) / seconds)) + "/s)";
    return line;
}

TerminalOwner::TerminalOwner(std::FILE* out, bool barsOnTerminal, IClock& clock)
    : out_(out), bars_(barsOnTerminal), clock_(clock) {}

void TerminalOwner::FinishLine() {
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
    std::fflush(out_);
}

void TerminalOwner::ShowControl(int controlId, int showCommand) {
    if (showCommand != kSwShowNormal) return;
    const char* line = nullptr;
    std::string text;
    switch (controlId) {
        case kIdStaticVersion: text = texts_[0]; break;
        case kIdStaticNote: text = texts_[1]; break;
        case kIdStaticDone:
            // Shown by the last patch and again by the finished state: say it once.
            if (doneShown_) return;
            doneShown_ = true;
            line = "更新完成";
            break;
        default: return;
    }
    if (line) text = line;
    if (text.empty()) return;
    FinishLine();
    std::fprintf(out_, "%s\n", PrintableText(text).c_str());
    std::fflush(out_);
}

void TerminalOwner::SetControlText(int controlId, const std::string& text) {
    if (controlId == kIdStaticVersion) texts_[0] = text;
    if (controlId == kIdStaticNote) texts_[1] = text;
}

void TerminalOwner::SendMessageTo(int controlId, unsigned message, std::uint32_t wParam,
                                  std::uint32_t lParam) {
    if (controlId == kIdProgressTotal && message == kPbmSetPos) {
        totalPosition_ = static_cast<int>(wParam);
    } else if (controlId == kDialog && message == kWmDownloadProgress) {
        OnProgress(wParam, lParam);
    }
}

void TerminalOwner::OnCancel() {
    closeRequested_ = true;
    FinishLine();
}

void TerminalOwner::OnProgress(std::uint32_t present, std::uint32_t announced) {
    const std::uint32_t now = clock_.TickCount();
    const bool newFile = announced != fileAnnounced_ || present < filePresent_;
    if (newFile && !measuring_) {
        measuring_ = true;
        firstTick_ = now;
    }
    if (newFile) {
        // A new file (or a new attempt at one): measure from here.
        fileAnnounced_ = announced;
        fileStartBytes_ = present;
        fileStartTick_ = now;
        rate_.Restart(now, present);
        if (present > 0 && present < announced) {
            FinishLine();
            std::fprintf(out_, "continuing at %s of %s\n", FormatAmount(present).c_str(),
                         FormatAmount(announced).c_str());
        }
    } else {
        rate_.Add(now, present);
        downloaded_ += present - filePresent_;
        lastTick_ = now;
    }
    filePresent_ = present;
    const bool complete = present == announced;

    if (bars_) {
        if (complete || now - lastDraw_ > kRedrawIntervalMs || !lineOpen_) {
            lastDraw_ = now;
            DrawBars(present, announced);
        }
    } else {
        // Plain lines: the start of a file and every further quarter of it.
        const int quarter =
            announced ? static_cast<int>(std::uint64_t{present} * 4 / announced) : 4;
        if (newFile) {
            lastQuarter_ = quarter;
            std::fprintf(out_, "download: %s of %s\n", FormatAmount(present).c_str(),
                         FormatAmount(announced).c_str());
        } else if (quarter > lastQuarter_) {
            lastQuarter_ = quarter;
            std::fprintf(out_, "download: %s of %s (%d%%), total %d%%%s\n",
                         FormatAmount(present).c_str(), FormatAmount(announced).c_str(),
                         quarter * 25, totalPosition_, SpeedSuffix(present, announced).c_str());
        }
    }
    if (complete && present > fileStartBytes_) ReportRate(now);
}

void TerminalOwner::ReportRate(std::uint32_t now) {
    const double seconds = (now - fileStartTick_) / 1000.0;
    const std::uint64_t bytes = filePresent_ - fileStartBytes_;
    FinishLine();
    if (seconds > 0) {
        std::fprintf(out_, "download: %s in %.2f s (%s/s)\n", ByteCount(bytes).c_str(), seconds,
                     ByteCount(static_cast<std::uint64_t>(static_cast<double>(bytes) / seconds)).c_str());
    }
}

std::string TerminalOwner::SpeedSuffix(std::uint32_t present, std::uint32_t announced) const {
    const std::uint32_t now = clock_.TickCount();
    const double rate = rate_.BytesPerSecond(now);
    if (rate < 0 || present >= announced) return {};
    return PrintableText("  " + ui::SpeedText(rate, rate_.SecondsLeft(announced - present, now)));
}

void TerminalOwner::DrawBars(std::uint32_t present, std::uint32_t announced) {
    const unsigned percent =
        announced ? static_cast<unsigned>(std::uint64_t{present} * 100 / announced) : 0;
    // Padded so that a shorter line covers the end of the one before.
    std::fprintf(out_, "\r file %s %3u%% %s / %s   total %s %3d%%%-24s",
                 Bar(present, announced).c_str(), percent, FormatAmount(present).c_str(),
                 FormatAmount(announced).c_str(),
                 Bar(static_cast<std::uint64_t>(totalPosition_ < 0 ? 0 : totalPosition_), 100).c_str(),
                 totalPosition_, SpeedSuffix(present, announced).c_str());
    std::fflush(out_);
    lineOpen_ = true;
}

}  // namespace launcher

#include "cli/terminal_owner.h"

#include "cli/printable_text.h"

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

std::string FormatAmount(std::uint32_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    return std::to_string(bytes >> 10) + " kb";
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
    if (newFile) {
        // A new file (or a new attempt at one): measure from here.
        fileAnnounced_ = announced;
        fileStartBytes_ = present;
        fileStartTick_ = now;
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
            std::fprintf(out_, "download: %s of %s (%d%%), total %d%%\n",
                         FormatAmount(present).c_str(), FormatAmount(announced).c_str(),
                         quarter * 25, totalPosition_);
        }
    }
    if (complete && present > fileStartBytes_) ReportRate(now);
}

void TerminalOwner::ReportRate(std::uint32_t now) {
    const double seconds = (now - fileStartTick_) / 1000.0;
    const double megabytes = (filePresent_ - fileStartBytes_) / 1048576.0;
    FinishLine();
    if (seconds > 0) {
        std::fprintf(out_, "download: %.1f MiB in %.2f s (%.1f MiB/s)\n", megabytes, seconds,
                     megabytes / seconds);
    }
}

void TerminalOwner::DrawBars(std::uint32_t present, std::uint32_t announced) {
    const unsigned percent =
        announced ? static_cast<unsigned>(std::uint64_t{present} * 100 / announced) : 0;
    std::fprintf(out_, "\r file %s %3u%% %s / %s   total %s %3d%% ", Bar(present, announced).c_str(),
                 percent, FormatAmount(present).c_str(), FormatAmount(announced).c_str(),
                 Bar(static_cast<std::uint64_t>(totalPosition_ < 0 ? 0 : totalPosition_), 100).c_str(),
                 totalPosition_);
    std::fflush(out_);
    lineOpen_ = true;
}

}  // namespace launcher

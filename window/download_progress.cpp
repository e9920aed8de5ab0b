#include "window/download_progress.h"

#include <string>

#include "platform/clock.h"

namespace launcher::ui {

namespace {
// Bytes below 1 KB, whole kilobytes from there on.
std::string Amount(std::uint32_t bytes) {
    return bytes < 1024 ? std::to_string(bytes) : std::to_string(bytes >> 10) + " kb";
}
}  // namespace

std::string ReceivedText(std::uint32_t present) {
    return Amount(present) + " ";
}

std::string TotalText(std::uint32_t announced) {
    return " / " + Amount(announced);
}

std::string DownloadProgress::SpeedLine(std::uint32_t present, std::uint32_t announced,
                                        std::uint32_t now) const {
    const double rate = m_rate.BytesPerSecond(now);
    if (present >= announced || rate < 0) return {};
    return SpeedText(rate, m_rate.SecondsLeft(announced - present, now));
}

int DownloadProgress::OnDownloadProgress(std::uint32_t wParam, std::uint32_t lParam,
                                         IDownloadProgressView& view) {
    const std::uint32_t present = wParam;
    const std::uint32_t announced = lParam;
    const std::string received = ReceivedText(present);
    const std::string total = TotalText(announced);

    const std::uint32_t now = m_tick.TickCount();
    if (announced != m_rateAnnounced || present < m_ratePresent)
        m_rate.Restart(now, present);
    else
        m_rate.Add(now, present);
    m_rateAnnounced = announced;
    m_ratePresent = present;
    // Unsigned: the difference stays right when the tick wraps.
    if (static_cast<std::uint32_t>(now - m_dwLastProgressTick) > kRefreshMs ||
        present == announced) {
        view.SetReceivedText(received);
        // Digits and "kb" only: one byte is one character on the screen.
        const int length = static_cast<int>(received.size());
        if (length != m_nLastReceivedLength) {
            view.PlaceTotal(kPixelsPerCharacter * length);
            m_nLastReceivedLength = length;
        }
        if (announced != m_nLastProgressTotal) {
            view.SetTotalText(total);
            m_nLastProgressTotal = announced;
        }
        view.SetSpeedText(SpeedLine(present, announced, now));
        m_dwLastProgressTick = m_tick.TickCount();
    }
    view.SetFilePosition(present);
    view.ShowNote();
    return 0;
}

}  // namespace launcher::ui

// What a WM_DOWNLOAD_PROGRESS does to the main dialog, without a toolkit: the
// amount texts, the 120 ms refresh rule and the placing of the total after the
// received amount. Each window gives the few operations on its own controls.
#pragma once

#include <cstdint>
#include <string>

#include "window/rate_estimator.h"

namespace launcher {

class IClock;

namespace ui {

// The texts for L bytes present of T announced.
std::string ReceivedText(std::uint32_t present);  // "%u " or "%u kb "
std::string TotalText(std::uint32_t announced);   // " / %u" or " / %u kb"

// The controls a progress message changes.
class IDownloadProgressView {
public:
    virtual ~IDownloadProgressView() = default;
    // Static 1014, repainted cleanly over the key colour.
    virtual void SetReceivedText(const std::string& text) = 0;
    // Static 1017 to `offset` pixels right of static 1014, on its top.
    virtual void PlaceTotal(int offset) = 0;
    // Static 1017 where it stands now, repainted cleanly.
    virtual void SetTotalText(const std::string& text) = 0;
    // The per-file bar 1004.
    virtual void SetFilePosition(std::uint32_t position) = 0;
    // Static 1015, if it is hidden.
    virtual void ShowNote() = 0;
    // The speed line of its own; hidden when `text` is empty.
    virtual void SetSpeedText(const std::string& text) { (void)text; }
};

// OnDownloadProgress and the state it carries from one file to the next.
class DownloadProgress {
public:
    static constexpr std::uint32_t kRefreshMs = 120;
    static constexpr int kPixelsPerCharacter = 6;

    explicit DownloadProgress(IClock& tick) : m_tick(tick) {}

    // L = wParam, T = lParam. Returns 0, the message's result.
    int OnDownloadProgress(std::uint32_t wParam, std::uint32_t lParam,
                           IDownloadProgressView& view);

private:
    // Empty once the file is complete or while the speed is not known yet.
    std::string SpeedLine(std::uint32_t present, std::uint32_t announced,
                          std::uint32_t now) const;

    IClock& m_tick;
    std::uint32_t m_dwLastProgressTick = 0;
    std::uint32_t m_nLastProgressTotal = 0;
    int m_nLastReceivedLength = 0;
    RateEstimator m_rate;
    std::uint32_t m_ratePresent = 0;
    std::uint32_t m_rateAnnounced = 0;
};

}  // namespace ui
}  // namespace launcher

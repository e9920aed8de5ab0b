// A smooth progress bar driven by the engine's bar messages: a 32-bit range,
// a position, a fill colour and a background colour. A black background is
// the key colour, so the unfilled part shows the picture beneath.
#pragma once

#include <QColor>
#include <QProgressBar>
#include <cstdint>

namespace launcher::ui {

class CProgressCtrl : public QProgressBar {
    Q_OBJECT
public:
    explicit CProgressCtrl(QWidget* parent = nullptr);

    // PBM_SETRANGE32, PBM_SETPOS, PBM_SETBARCOLOR, PBM_SETBKCOLOR; colours as
    // COLORREF (0x00BBGGRR).
    void SetRange32(std::uint32_t low, std::uint32_t high);
    void SetPos(std::uint32_t position);
    void SetBarColor(std::uint32_t colorref);
    void SetBkColor(std::uint32_t colorref);

    std::uint32_t Low() const { return m_low; }
    std::uint32_t High() const { return m_high; }
    std::uint32_t Pos() const { return m_pos; }
    QColor BarColor() const { return m_bar; }
    QColor BkColor() const { return m_bk; }
    // Filled width in pixels for the current position.
    int FilledWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void SyncBase();

    std::uint32_t m_low = 0;
    std::uint32_t m_high = 100;
    std::uint32_t m_pos = 0;
    QColor m_bar{32, 164, 255};
    QColor m_bk{0, 0, 0};
};

QColor FromColorRef(std::uint32_t colorref);

}  // namespace launcher::ui

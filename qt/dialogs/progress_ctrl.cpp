#include "qt/dialogs/progress_ctrl.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <climits>

namespace launcher::ui {

QColor FromColorRef(std::uint32_t colorref) {
    return QColor(static_cast<int>(colorref & 0xFF), static_cast<int>((colorref >> 8) & 0xFF),
                  static_cast<int>((colorref >> 16) & 0xFF));
}

CProgressCtrl::CProgressCtrl(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setAttribute(Qt::WA_NoSystemBackground);
    SyncBase();
}

void CProgressCtrl::SetRange32(std::uint32_t low, std::uint32_t high) {
    m_low = low;
    m_high = high;
    m_pos = std::clamp(m_pos, m_low, std::max(m_low, m_high));
    SyncBase();
}

void CProgressCtrl::SetPos(std::uint32_t position) {
    m_pos = std::clamp(position, m_low, std::max(m_low, m_high));
    SyncBase();
}

void CProgressCtrl::SetBarColor(std::uint32_t colorref) {
    m_bar = FromColorRef(colorref);
    update();
}

void CProgressCtrl::SetBkColor(std::uint32_t colorref) {
    m_bk = FromColorRef(colorref);
    update();
}

int CProgressCtrl::FilledWidth() const {
    if (m_high <= m_low) return 0;
    const auto span = static_cast<unsigned long long>(m_high - m_low);
    const auto done = static_cast<unsigned long long>(m_pos - m_low);
    return static_cast<int>(static_cast<unsigned long long>(width()) * done / span);
}

void CProgressCtrl::SyncBase() {
    // QProgressBar keeps ints: scale a range above INT_MAX down for the
    // accessible value; painting uses the exact 32-bit values.
    int shift = 0;
    while ((static_cast<unsigned long long>(m_high) >> shift) > INT_MAX) ++shift;
    const int high = static_cast<int>(m_high >> shift);
    const int low = static_cast<int>(m_low >> shift);
    // Never an empty range: QProgressBar shows a busy animation for one.
    setRange(low, std::max(high, low + 1));
    setValue(static_cast<int>(m_pos >> shift));
    update();
}

void CProgressCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_bk != QColor(Qt::black)) painter.fillRect(rect(), m_bk);
    const int filled = FilledWidth();
    if (filled <= 0 || m_bar == QColor(Qt::black)) return;
    // A little light on the upper edge; the colour itself is the engine's.
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0.0, m_bar.lighter(135));
    gradient.setColorAt(0.45, m_bar);
    gradient.setColorAt(1.0, m_bar.darker(115));
    painter.fillRect(QRect(0, 0, filled, height()), gradient);
}

}  // namespace launcher::ui

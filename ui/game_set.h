// The display-settings dialog (template 146) and the display choice it
// stores: a windowed or a full-screen resolution from a fixed list of nine.
// A choice takes effect the moment it is made; Cancel resets the resolution
// (not the mode) to the first of the list. Nothing is saved between runs.
#pragma once

#include <QDialog>
#include <array>
#include <string>

class QComboBox;

namespace launcher {

// 0 windowed, 1 full-screen.
extern int g_bFullScreen;
// The chosen resolution as the list shows it, "1024X768" at start.
extern std::string g_strResolution;

inline constexpr std::array<const char*, 9> kResolutions{"1024X768", "1152X864", "1280X768",
                                                         "1280X800", "1280X960", "1360X768",
                                                         "1366X768", "1440X900", "1600X900"};

class CGameSet : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 146;
    static constexpr int kIdFullScreen = 1007;
    static constexpr int kIdWindowed = 1008;

    explicit CGameSet(QWidget* parent = nullptr);

    QComboBox* FullScreenCombo() const { return m_comboFullScreen; }
    QComboBox* WindowedCombo() const { return m_comboWindowed; }
    QWidget* GetDlgItem(int controlId) const;

    // Escape, the close box and the Cancel button.
    void reject() override { OnCancelSettings(); }

private:
    bool OnInitDialog();
    void OnSelChangeFullScreen();
    void OnSelChangeWindowed();
    void OnCancelSettings();

    QComboBox* m_comboFullScreen = nullptr;
    QComboBox* m_comboWindowed = nullptr;
    QWidget* m_items[2] = {};  // buttons 1 and 2
};

}  // namespace launcher

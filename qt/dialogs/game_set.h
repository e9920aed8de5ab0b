// The display-settings dialog (template 146), which stores the display
// choice. A choice takes effect the moment it is made; Cancel resets the
// resolution (not the mode) to the first of the list. Its repair button ends
// it with ui::kRepairChosen.
#pragma once

#include <QDialog>

#include "window/display_choice.h"

class QComboBox;

namespace launcher {

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
    QWidget* m_btnRepair = nullptr;
};

}  // namespace launcher

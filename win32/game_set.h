// The display settings: a windowed and a full-screen resolution list. A
// choice is stored the moment it is made; typed text is never read.
#pragma once

#include "win32/dialog.h"

namespace launcher::win {

class CGameSet final : public CDialog {
public:
    static constexpr int kTemplateId = 146;
    static constexpr int kIdComboFullScreen = 1007;
    static constexpr int kIdComboWindowed = 1008;

    explicit CGameSet(HWND hOwner) : CDialog(kTemplateId, hOwner) {}
    ~CGameSet() override;

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void OnSelChange(int comboId, int fullScreen);
    void OnCancelSettings();

    HICON m_hSmallIcon = nullptr;
    HICON m_hBigIcon = nullptr;
};

}  // namespace launcher::win

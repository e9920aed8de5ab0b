// The launcher's background window: the two-layer shell bound to the main
// dialog.
#pragma once

#include "qt/dialogs/fore_dialog.h"
#include "qt/shell/back_dialog_base.h"

namespace launcher {

class CBackDialog : public CBackDialogBase {
    Q_OBJECT
public:
    // `nPngId`: 143 or 144, the start-up's choice.
    explicit CBackDialog(int nPngId, ForeDialogSettings settings = {});
    ~CBackDialog() override;

    CForeDialogBase* CreateForeDialog() override;
    CForeDialog* MainDialog() const { return static_cast<CForeDialog*>(ForeDialog()); }

private:
    ForeDialogSettings m_settings;
};

}  // namespace launcher

#include "qt/dialogs/back_dialog.h"

#include <new>

#include "qt/dialogs/resources.h"

namespace launcher {

namespace {
// The picture is loaded by the base's constructor: the resources must be
// registered before it runs.
int WithResources(int pngId) {
    ui::InitLauncherResources();
    return pngId;
}
}  // namespace

CBackDialog::CBackDialog(int nPngId, ForeDialogSettings settings)
    : CBackDialogBase(WithResources(nPngId)), m_settings(std::move(settings)) {}

CBackDialog::~CBackDialog() = default;

CForeDialogBase* CBackDialog::CreateForeDialog() {
    return new (std::nothrow) CForeDialog(this, m_settings);
}

}  // namespace launcher

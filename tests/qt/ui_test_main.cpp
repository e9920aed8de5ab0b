// One QApplication for the tests of a process; the offscreen platform unless
// the caller chose another (a display for looking at the windows).
#include <gtest/gtest.h>

#include <QApplication>

#include "qt/dialogs/explorer.h"
#include "qt/dialogs/resources.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    launcher::ui::CExplorer1::PrepareProcess();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    launcher::ui::InitLauncherResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

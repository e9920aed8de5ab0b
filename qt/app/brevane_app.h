// The launcher program: prepares the process, picks one of the two equal
// background pictures at random, runs the background window for the whole
// life of the launcher, and hands over to the updater afterwards when the
// engine downloaded a replacement launcher.
#pragma once

#include <QApplication>

namespace launcher {

class CBrevaneApp : public QApplication {
    Q_OBJECT
public:
    // What must happen before the application object exists.
    static void PrepareProcess();

    CBrevaneApp(int& argc, char** argv);
    ~CBrevaneApp() override;

    // Runs the launcher; false in every case, as there is no loop after it.
    bool InitInstance();
    int ExitInstance();

    // 143 or 144 for a number from rand().
    static int ChooseBackground(int r) { return r % 10 >= 5 ? 144 : 143; }
};

}  // namespace launcher

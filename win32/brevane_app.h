// The launcher's start-up on Windows: prepares the process, runs the window
// for the launcher's whole life and hands over to the updater when a
// replacement launcher was downloaded.
#pragma once

namespace launcher::win {

class CBrevaneApp {
public:
    // False in every case: the program ends after ExitInstance.
    bool InitInstance();
    int ExitInstance();

    // 144 or 143, an even chance each.
    static int ChooseBackground(int r) { return r % 10 >= 5 ? 144 : 143; }

private:
    bool m_bComStarted = false;
};

}  // namespace launcher::win

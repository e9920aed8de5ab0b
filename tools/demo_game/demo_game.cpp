// demo-game: installed as "Corvatheon2.exe" in the demo client. It shows the
// parameter text it received (line feed made visible) and the client's patch
// number, in a window when there is a display and on stdout otherwise, and
// appends the same line to demo-game.log for scripts.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#ifdef DEMO_GAME_WITH_WINDOW
#include <QApplication>
#include <QLabel>
#include <QTimer>
#endif

namespace {

std::string Visible(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string PatchNumber() {
    std::ifstream in("PRESENTVERSION.DAT", std::ios::binary);
    std::string digits(5, '\0');
    if (!in.read(digits.data(), 5)) return "unknown";
    return digits;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string parameters = argc > 1 ? argv[1] : "";
    std::ostringstream line;
    line << "Corvatheon2 demo game started with \"" << Visible(parameters) << "\" at patch "
         << PatchNumber();
    std::printf("%s\n", line.str().c_str());
    std::fflush(stdout);
    std::ofstream("demo-game.log", std::ios::app) << line.str() << "\n";

#ifdef DEMO_GAME_WITH_WINDOW
    if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")) {
        QApplication app(argc, argv);
        QLabel label(QString::fromStdString(line.str()));
        label.setWindowTitle("Corvatheon2");
        label.setMargin(40);
        label.setStyleSheet("font-size: 18px; background: #203a5c; color: #f3f6fb;");
        label.show();
        // DEMO_GAME_SECONDS closes the window by itself (for unattended runs).
        if (const char* seconds = std::getenv("DEMO_GAME_SECONDS"))
            QTimer::singleShot(std::atoi(seconds) * 1000, &app, &QApplication::quit);
        return app.exec();
    }
#endif
    return 0;
}

// The program's resources, compiled in from res/launcher.qrc, by id.
#pragma once

#include <QIcon>
#include <QString>

namespace launcher::ui {

// Registers the compiled-in resources; needed once before any is used (they
// live in a static library). Safe to call again.
void InitLauncherResources();

QString PngResource(int id);     // ":/png/143.png"
QString BitmapResource(int id);  // ":/bitmap/129.bmp"
// Icon 128 in every size it carries.
QIcon LauncherIcon();

inline constexpr int kIconId = 128;

}  // namespace launcher::ui

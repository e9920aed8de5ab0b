#include "qt/dialogs/resources.h"

#include <QDir>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitLauncherQrc() {
    Q_INIT_RESOURCE(launcher);
}

namespace launcher::ui {

void InitLauncherResources() {
    static const bool done = (InitLauncherQrc(), true);
    (void)done;
}

QString PngResource(int id) {
    return QStringLiteral(":/png/%1.png").arg(id);
}

QString BitmapResource(int id) {
    return QStringLiteral(":/bitmap/%1.bmp").arg(id);
}

QIcon LauncherIcon() {
    QIcon icon;
    const QDir dir(QStringLiteral(":/icon"));
    for (const QString& name : dir.entryList({QStringLiteral("%1-*.png").arg(kIconId)}))
        icon.addFile(dir.filePath(name));
    return icon;
}

}  // namespace launcher::ui

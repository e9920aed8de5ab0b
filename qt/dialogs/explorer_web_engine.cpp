// The news pane as a full browser view.
#include "qt/dialogs/explorer.h"

#include <QCoreApplication>
#include <QUrl>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace launcher::ui {

CExplorer1::CExplorer1(QWidget* parent) : QWidget(parent) {
    auto* view = new QWebEngineView(this);
    view->setContextMenuPolicy(Qt::NoContextMenu);
    // Not the engine's own error page: ours, in the window's style.
    view->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    connect(view->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) {
                // Our page is loaded from data: never answer its failure with itself.
                if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
                    info.url().scheme() != QLatin1String("data"))
                    ShowLoadFailure();
            });
    Fill(view);
}

void CExplorer1::Navigate(const QString& url) {
    m_url = url;
    static_cast<QWebEngineView*>(m_view)->load(QUrl(url));
}

void CExplorer1::ShowLoadFailure() {
    static_cast<QWebEngineView*>(m_view)->setHtml(ErrorPage());
}

QString CExplorer1::PageTitle() const {
    return static_cast<QWebEngineView*>(m_view)->title();
}

void CExplorer1::PrepareProcess() {
#ifdef Q_OS_UNIX
    // Chromium refuses to run its sandbox as root; only then switch it off.
    if (::geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

}  // namespace launcher::ui

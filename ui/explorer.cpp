#include "ui/explorer.h"

#include <QCoreApplication>
#include <QUrl>
#include <QVBoxLayout>

#if defined(LAUNCHER_WEBENGINE) && defined(Q_OS_UNIX)
#include <unistd.h>
#endif
#ifdef LAUNCHER_WEBENGINE
#include <QWebEngineView>
#else
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextBrowser>
#endif

namespace launcher::ui {

CExplorer1::CExplorer1(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
#ifdef LAUNCHER_WEBENGINE
    auto* view = new QWebEngineView(this);
    view->setContextMenuPolicy(Qt::NoContextMenu);
#else
    auto* view = new QTextBrowser(this);
    view->setOpenLinks(false);
    view->setFrameShape(QFrame::NoFrame);
#endif
    m_view = view;
    layout->addWidget(view);
}

CExplorer1::~CExplorer1() = default;

void CExplorer1::Navigate(const QString& url) {
    m_url = url;
#ifdef LAUNCHER_WEBENGINE
    static_cast<QWebEngineView*>(m_view)->load(QUrl(url));
#else
    auto* manager = new QNetworkAccessManager(this);
    QNetworkReply* reply = manager->get(QNetworkRequest(QUrl(url)));
    auto* view = static_cast<QTextBrowser*>(m_view);
    connect(reply, &QNetworkReply::finished, view, [reply, view, manager] {
        if (reply->error() == QNetworkReply::NoError)
            view->setHtml(QString::fromUtf8(reply->readAll()));
        else
            view->setPlainText(reply->errorString());
        reply->deleteLater();
        manager->deleteLater();
    });
#endif
}

void CExplorer1::PrepareProcess() {
#ifdef LAUNCHER_WEBENGINE
#ifdef Q_OS_UNIX
    // Chromium refuses to run its sandbox as root; only then switch it off.
    if (::geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#endif
}

}  // namespace launcher::ui

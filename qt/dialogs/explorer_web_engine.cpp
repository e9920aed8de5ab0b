// The news pane as a full browser view.
#include "qt/dialogs/explorer.h"

#include <QCoreApplication>
#include <QSslCertificate>
#include <QSslError>
#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "engine/deployment.h"

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
    // The web engine trusts only the system's store: a certificate it refuses
    // is accepted when its chain verifies against the launcher's certificates
    // (and the system's, see Fill) for the page's host; nothing else is.
    connect(view->page(), &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) {
                if (BuiltInCaCertificates().empty() || !error.isOverridable()) return;
                if (QSslCertificate::verify(error.certificateChain(), error.url().host()).isEmpty())
                    error.acceptCertificate();
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

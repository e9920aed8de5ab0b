#include "ui/explorer.h"

#include <QCoreApplication>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/deployment.h"

#if defined(LAUNCHER_WEBENGINE) && defined(Q_OS_UNIX)
#include <unistd.h>
#endif
#ifdef LAUNCHER_WEBENGINE
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#else
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextBrowser>
#endif

namespace launcher::ui {

const char* const kNewsErrorTitle = "新闻页面无法加载";

namespace {

// Our own page for a news page that did not load, in the window's colours,
// with a link that loads the news page again.
QString NewsErrorPage(const QString& retryUrl) {
    return QStringLiteral(
               "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
               "<body style=\"margin:0; background-color:#132b3f; color:#e8eef7;"
               " font-family:'Noto Sans CJK SC',sans-serif\">"
               "<h1 style=\"font-size:18px; margin:10px 14px 4px; color:#ffd36b\">%1</h1>"
               "<p style=\"font-size:13px; margin:0 14px\">请检查网络连接，然后"
               "<a style=\"color:#8fb3d9\" href=\"%2\">重试</a>。</p></body></html>")
        .arg(QString::fromUtf8(kNewsErrorTitle), retryUrl.toHtmlEscaped());
}

// The launcher's own certificates (built in, or LAUNCHER_CA_BUNDLE) join the
// system's in Qt's default configuration: its network access uses them, and
// they are what a web engine certificate is checked against below.
void TrustLauncherCertificates() {
    static const bool done = [] {
        const QList<QSslCertificate> extra = QSslCertificate::fromData(
            QByteArray::fromStdString(BuiltInCaCertificates()), QSsl::Pem);
        if (!extra.isEmpty()) {
            QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
            configuration.addCaCertificates(extra);
            QSslConfiguration::setDefaultConfiguration(configuration);
        }
        return true;
    }();
    (void)done;
}

}  // namespace

CExplorer1::CExplorer1(QWidget* parent) : QWidget(parent) {
    TrustLauncherCertificates();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
#ifdef LAUNCHER_WEBENGINE
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
    // (and the system's) for the page's host, and nothing else is overridden.
    connect(view->page(), &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) {
                if (BuiltInCaCertificates().empty() || !error.isOverridable()) return;
                if (QSslCertificate::verify(error.certificateChain(), error.url().host()).isEmpty())
                    error.acceptCertificate();
            });
#else
    auto* view = new QTextBrowser(this);
    view->setOpenLinks(false);
    view->setFrameShape(QFrame::NoFrame);
    // The one link we answer is the retry link of our error page.
    connect(view, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        if (link == QUrl(m_url)) Navigate(m_url);
    });
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
    connect(reply, &QNetworkReply::finished, view, [this, reply, view, manager] {
        if (reply->error() == QNetworkReply::NoError)
            view->setHtml(QString::fromUtf8(reply->readAll()));
        else
            ShowLoadFailure();
        reply->deleteLater();
        manager->deleteLater();
    });
#endif
}

void CExplorer1::ShowLoadFailure() {
#ifdef LAUNCHER_WEBENGINE
    static_cast<QWebEngineView*>(m_view)->setHtml(NewsErrorPage(m_url));
#else
    static_cast<QTextBrowser*>(m_view)->setHtml(NewsErrorPage(m_url));
#endif
}

QString CExplorer1::PageTitle() const {
#ifdef LAUNCHER_WEBENGINE
    return static_cast<QWebEngineView*>(m_view)->title();
#else
    return static_cast<QTextBrowser*>(m_view)->documentTitle();
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

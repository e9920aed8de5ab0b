// What both news views share: our own page for a news page that did not load.
// The view itself is explorer_web_engine.cpp or explorer_text_browser.cpp, as
// the build chooses.
#include "qt/dialogs/explorer.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QVBoxLayout>

#include "engine/deployment.h"

namespace launcher::ui {

const char* const kNewsErrorTitle = "新闻页面无法加载";

namespace {

// The launcher's own certificates (built in, or LAUNCHER_CA_BUNDLE) join the
// system's in Qt's default configuration: its network access trusts them,
// and the web engine view checks the certificates it refuses against them.
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

// In the window's colours, with a link that loads the news page again.
QString CExplorer1::ErrorPage() const {
    return QStringLiteral(
               "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
               "<body style=\"margin:0; background-color:#132b3f; color:#e8eef7;"
               " font-family:'Noto Sans CJK SC',sans-serif\">"
               "<h1 style=\"font-size:18px; margin:10px 14px 4px; color:#ffd36b\">%1</h1>"
               "<p style=\"font-size:13px; margin:0 14px\">请检查网络连接，然后"
               "<a style=\"color:#8fb3d9\" href=\"%2\">重试</a>。</p></body></html>")
        .arg(QString::fromUtf8(kNewsErrorTitle), m_url.toHtmlEscaped());
}

CExplorer1::~CExplorer1() = default;

void CExplorer1::Fill(QWidget* view) {
    TrustLauncherCertificates();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    m_view = view;
}

}  // namespace launcher::ui

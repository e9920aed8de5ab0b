// What both news views share: our own page for a news page that did not load.
// The view itself is explorer_web_engine.cpp or explorer_text_browser.cpp, as
// the build chooses.
#include "qt/dialogs/explorer.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QVBoxLayout>

#include "engine/deployment.h"

namespace launcher::ui {

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

// The page both windows show, the retry link to the news page in it.
QString CExplorer1::ErrorPage() const {
    return QString::fromStdString(NewsErrorPage(m_url.toStdString()));
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

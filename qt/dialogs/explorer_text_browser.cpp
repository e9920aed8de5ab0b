// The news pane as a plain HTML view (builds without a web engine, such as the
// sanitizer builds): it fetches the page itself and shows its text and layout.
#include "qt/dialogs/explorer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace launcher::ui {

namespace {
QTextBrowser* TextView(QWidget* view) {
    return static_cast<QTextBrowser*>(view);
}
}  // namespace

CExplorer1::CExplorer1(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new QTextBrowser(this);
    view->setOpenLinks(false);
    view->setFrameShape(QFrame::NoFrame);
    // The one link we answer is the retry link of our error page.
    connect(view, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        if (link == QUrl(m_url)) Navigate(m_url);
    });
    m_view = view;
    layout->addWidget(view);
}

void CExplorer1::Navigate(const QString& url) {
    m_url = url;
    auto* manager = new QNetworkAccessManager(this);
    QNetworkReply* reply = manager->get(QNetworkRequest(QUrl(url)));
    QTextBrowser* view = TextView(m_view);
    connect(reply, &QNetworkReply::finished, view, [this, reply, view, manager] {
        if (reply->error() == QNetworkReply::NoError)
            view->setHtml(QString::fromUtf8(reply->readAll()));
        else
            ShowLoadFailure();
        reply->deleteLater();
        manager->deleteLater();
    });
}

void CExplorer1::ShowLoadFailure() {
    TextView(m_view)->setHtml(ErrorPage());
}

QString CExplorer1::PageTitle() const {
    return TextView(m_view)->documentTitle();
}

void CExplorer1::PrepareProcess() {}

}  // namespace launcher::ui

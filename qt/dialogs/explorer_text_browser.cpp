// The news pane as a plain HTML view (builds without a web engine, such as the
// sanitizer builds): it fetches the page itself and shows its text and layout.
#include "qt/dialogs/explorer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextBrowser>
#include <QUrl>

namespace launcher::ui {

CExplorer1::CExplorer1(QWidget* parent) : QWidget(parent) {
    auto* view = new QTextBrowser(this);
    view->setOpenLinks(false);
    view->setFrameShape(QFrame::NoFrame);
    // The one link we answer is the retry link of our error page.
    connect(view, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
        if (link == QUrl(m_url)) Navigate(m_url);
    });
    Fill(view);
}

void CExplorer1::Navigate(const QString& url) {
    m_url = url;
    auto* manager = new QNetworkAccessManager(this);
    QNetworkReply* reply = manager->get(QNetworkRequest(QUrl(url)));
    QTextBrowser* view = static_cast<QTextBrowser*>(m_view);
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
    static_cast<QTextBrowser*>(m_view)->setHtml(ErrorPage());
}

QString CExplorer1::PageTitle() const {
    return static_cast<QTextBrowser*>(m_view)->documentTitle();
}

void CExplorer1::PrepareProcess() {}

}  // namespace launcher::ui

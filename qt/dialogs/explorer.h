// The news pane: an embedded web view navigated once. With LAUNCHER_WEBENGINE
// it is a full browser view (explorer_web_engine.cpp); without it (sanitizer
// builds) a plain HTML view that fetches the page itself and shows its text
// and layout (explorer_text_browser.cpp).
#pragma once

#include <QString>
#include <QWidget>

#include "window/news_error_page.h"

namespace launcher::ui {

class CExplorer1 : public QWidget {
    Q_OBJECT
public:
    explicit CExplorer1(QWidget* parent = nullptr);
    ~CExplorer1() override;

    void Navigate(const QString& url);
    QString Url() const { return m_url; }
    // The widget that shows the page.
    QWidget* View() const { return m_view; }
    QString PageTitle() const;

    // A web engine needs its sandbox off when the program runs as root; call
    // before the application object is made.
    static void PrepareProcess();

private:
    // Our own page instead of an error: what happened, and a retry link.
    void ShowLoadFailure();
    QString ErrorPage() const;
    // Makes `view` the pane's whole content.
    void Fill(QWidget* view);

    QWidget* m_view = nullptr;
    QString m_url;
};

}  // namespace launcher::ui

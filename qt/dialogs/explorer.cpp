// What both news views share: our own page for a news page that did not load.
// The view itself is explorer_web_engine.cpp or explorer_text_browser.cpp, as
// the build chooses.
#include "qt/dialogs/explorer.h"

#include <QVBoxLayout>

namespace launcher::ui {

// The page both windows show, the retry link to the news page in it.
QString CExplorer1::ErrorPage() const {
    return QString::fromStdString(NewsErrorPage(m_url.toStdString()));
}

CExplorer1::~CExplorer1() = default;

void CExplorer1::Fill(QWidget* view) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    m_view = view;
}

}  // namespace launcher::ui

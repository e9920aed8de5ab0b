// Our own page for a news page that did not load, in the window's colours,
// with a link that loads the news page again. Both windows show it.
#pragma once

#include <string>

namespace launcher::ui {

extern const char* const kNewsErrorTitle;

// The whole page, UTF-8; `url` is escaped for HTML here.
std::string NewsErrorPage(const std::string& url);

}  // namespace launcher::ui

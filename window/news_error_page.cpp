#include "window/news_error_page.h"

namespace launcher::ui {

const char* const kNewsErrorTitle = "新闻页面无法加载";

namespace {

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string NewsErrorPage(const std::string& url) {
    const std::string title = kNewsErrorTitle;
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
           "</title></head>"
           "<body style=\"margin:0; background-color:#132b3f; color:#e8eef7;"
           " font-family:'Noto Sans CJK SC',sans-serif\">"
           "<h1 style=\"font-size:18px; margin:10px 14px 4px; color:#ffd36b\">" +
           title +
           "</h1>"
           "<p style=\"font-size:13px; margin:0 14px\">请检查网络连接，然后"
           "<a style=\"color:#8fb3d9\" href=\"" +
           EscapeHtml(url) + "\">重试</a>。</p></body></html>";
}

}  // namespace launcher::ui

// The system's web browser control hosted in a rectangle of a dialog, with no
// framework: one site object answers the control's questions (client site,
// in-place site and frame, document host) and hears its navigation events.
// When navigation fails it shows our own page instead of the control's.
#pragma once

#include <windows.h>

#include <string>

struct IOleObject;
struct IWebBrowser2;

namespace launcher::win {

class CBrowserSite;

class CWebBrowserHost {
public:
    // Posted to the parent when the control cannot show even our page (no
    // browser engine, as under Wine): the parent closes it and shows a link.
    static constexpr UINT kWmBrowserUnusable = WM_APP + 2;

    CWebBrowserHost() = default;
    ~CWebBrowserHost();
    CWebBrowserHost(const CWebBrowserHost&) = delete;
    CWebBrowserHost& operator=(const CWebBrowserHost&) = delete;

    // Creates the control in `parent` over `rect` (client pixels) and
    // activates it there. False when the system has no such control; the
    // HRESULT of the failed step goes to `failure`.
    bool Create(HWND parent, const RECT& rect, HRESULT& failure);
    // `errorPage` (UTF-8 HTML) replaces the control's own when this fails.
    bool Navigate(const std::string& url, const std::string& errorPage);
    // Gives the control the keys meant for it (Tab, arrows, accelerators);
    // true when it took the message.
    bool TranslateAccelerator(MSG& msg);
    // Deactivates and releases the control; before its parent goes.
    void Close();

    bool IsCreated() const { return m_pBrowser != nullptr; }

private:
    CBrowserSite* m_pSite = nullptr;
    IOleObject* m_pObject = nullptr;
    IWebBrowser2* m_pBrowser = nullptr;
    DWORD m_dwCookie = 0;
};

}  // namespace launcher::win

#include "win32/web_browser_host.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <oleidl.h>

#include <cstdio>

#include "platform/win32/wide_text.h"

namespace launcher::win {

namespace {

// What the pane did, for whoever runs the launcher from a console (the
// Windows stage reads it under Wine, where no page draws).
void Trace(const std::string& line) {
    std::fprintf(stderr, "news pane: %s\n", line.c_str());
    std::fflush(stderr);
}

std::string Hex(long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
    return text;
}

bool SameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b) return false;
    IUnknown* ua = nullptr;
    IUnknown* ub = nullptr;
    a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ua));
    b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ub));
    const bool same = ua && ua == ub;
    if (ua) ua->Release();
    if (ub) ub->Release();
    return same;
}

void WriteDocument(IWebBrowser2* browser, const std::wstring& html) {
    IDispatch* dispatch = nullptr;
    IHTMLDocument2* document = nullptr;
    if (FAILED(browser->get_Document(&dispatch)) || !dispatch) return;
    if (SUCCEEDED(
            dispatch->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&document)))) {
        if (SAFEARRAY* lines = ::SafeArrayCreateVector(VT_VARIANT, 0, 1)) {
            VARIANT* line = nullptr;
            if (SUCCEEDED(::SafeArrayAccessData(lines, reinterpret_cast<void**>(&line)))) {
                line->vt = VT_BSTR;
                line->bstrVal = ::SysAllocString(html.c_str());
                ::SafeArrayUnaccessData(lines);
                if (SUCCEEDED(document->write(lines))) Trace("our page shown");
                document->close();
            }
            ::SafeArrayDestroy(lines);  // frees the string too
        }
        document->Release();
    }
    dispatch->Release();
}

}  // namespace

// COM objects go through Release, never through a base's destructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// The control's one partner. The in-place frame is the dialog itself: no
// menus, no tool space, no status line.
class CBrowserSite final : public IOleClientSite,
                           public IOleInPlaceSite,
                           public IOleInPlaceFrame,
                           public IDocHostUIHandler,
                           public IDispatch {
public:
    CBrowserSite(HWND parent, const RECT& rect) : m_hParent(parent), m_rect(rect) {}
    virtual ~CBrowserSite() = default;

    void SetBrowser(IWebBrowser2* browser) { m_pBrowser = browser; }
    void SetErrorPage(std::wstring page) { m_errorPage = std::move(page); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *object = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
            *object = static_cast<IOleInPlaceFrame*>(this);
        else if (riid == IID_IDocHostUIHandler)
            *object = static_cast<IDocHostUIHandler*>(this);
        else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2)
            *object = static_cast<IDispatch*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_nRefs; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --m_nRefs;
        if (left == 0) delete this;
        return left;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, for the in-place site and the frame alike
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = m_hParent;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                  LPRECT position, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override {
        if (frame) {
            *frame = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
        }
        if (document) *document = nullptr;
        if (position) *position = m_rect;
        if (clip) *clip = m_rect;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = m_hParent;
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow, IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }  // the document host's too
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDocHostUIHandler: no border, no context menu, scroll bars only where
    // the page does not fit (the page's own standards mode decides that).
    STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_OK; }
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override {
        if (!info) return E_POINTER;
        info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_NO3DOUTERBORDER |
                        DOCHOSTUIFLAG_THEME | DOCHOSTUIFLAG_DPI_AWARE;
        info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                        IOleInPlaceUIWindow*) override {
        return S_OK;
    }
    STDMETHODIMP HideUI() override { return S_OK; }
    STDMETHODIMP UpdateUI() override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
        if (key) *key = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** target) override {
        if (target) *target = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetExternal(IDispatch** external) override {
        if (external) *external = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
        if (out) *out = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override {
        if (out) *out = nullptr;
        return S_FALSE;
    }

    // IDispatch: DWebBrowserEvents2
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        if (!params || !m_pBrowser) return S_OK;
        // The arguments come last first.
        if (id == DISPID_NAVIGATEERROR && params->cArgs >= 5) {
            if (!IsTopLevel(params->rgvarg[4]) || m_bGivenUp) return S_OK;
            const VARIANT& status = params->rgvarg[1];
            const long code =
                status.vt == (VT_VARIANT | VT_BYREF) && status.pvarVal ? status.pvarVal->lVal : 0;
            Trace("navigation failed (status " + Hex(code) + "), showing our page");
            if (params->rgvarg[0].vt == (VT_BOOL | VT_BYREF) && params->rgvarg[0].pboolVal)
                *params->rgvarg[0].pboolVal = VARIANT_TRUE;  // not the control's own page
            if (m_bErrorPending) {
                // The empty page for ours failed too: no engine to draw.
                m_bGivenUp = true;
                Trace("the control cannot show our page, giving the pane up");
                ::PostMessageW(m_hParent, CWebBrowserHost::kWmBrowserUnusable, 0, 0);
                return S_OK;
            }
            m_bErrorPending = true;
            BSTR blank = ::SysAllocString(L"about:blank");
            m_pBrowser->Navigate(blank, nullptr, nullptr, nullptr, nullptr);
            ::SysFreeString(blank);
        } else if (id == DISPID_DOCUMENTCOMPLETE && params->cArgs >= 2) {
            if (!IsTopLevel(params->rgvarg[1]) || !m_bErrorPending) return S_OK;
            m_bErrorPending = false;
            WriteDocument(m_pBrowser, m_errorPage);
        }
        return S_OK;
    }

private:
    bool IsTopLevel(const VARIANT& frame) const {
        return frame.vt == VT_DISPATCH && SameObject(frame.pdispVal, m_pBrowser);
    }

    ULONG m_nRefs = 1;
    HWND m_hParent;
    RECT m_rect;
    IWebBrowser2* m_pBrowser = nullptr;  // the host's; cleared before it goes
    std::wstring m_errorPage;
    bool m_bErrorPending = false;
    bool m_bGivenUp = false;
};
#pragma GCC diagnostic pop

CWebBrowserHost::~CWebBrowserHost() {
    Close();
}

bool CWebBrowserHost::Create(HWND parent, const RECT& rect, HRESULT& failure) {
    Close();
    m_pSite = new CBrowserSite(parent, rect);
    IOleClientSite* site = static_cast<IOleClientSite*>(m_pSite);
    HRESULT hr = ::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                    reinterpret_cast<void**>(&m_pObject));
    if (SUCCEEDED(hr)) hr = m_pObject->SetClientSite(site);
    if (SUCCEEDED(hr)) {
        ::OleSetContainedObject(m_pObject, TRUE);
        RECT position = rect;
        hr = m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, parent, &position);
    }
    if (SUCCEEDED(hr))
        hr = m_pObject->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&m_pBrowser));
    if (FAILED(hr)) {
        failure = hr;
        Close();
        return false;
    }
    m_pSite->SetBrowser(m_pBrowser);
    m_pBrowser->put_Silent(VARIANT_TRUE);  // no script error boxes over the launcher
    IOleInPlaceObject* inPlace = nullptr;
    if (SUCCEEDED(
            m_pObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
        inPlace->SetObjectRects(&rect, &rect);
        inPlace->Release();
    }
    IConnectionPointContainer* points = nullptr;
    if (SUCCEEDED(m_pBrowser->QueryInterface(IID_IConnectionPointContainer,
                                             reinterpret_cast<void**>(&points)))) {
        IConnectionPoint* point = nullptr;
        if (SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &point))) {
            point->Advise(static_cast<IDispatch*>(m_pSite), &m_dwCookie);
            point->Release();
        }
        points->Release();
    }
    Trace(std::string("web browser control created and activated, events ") +
          (m_dwCookie ? "connected" : "not connected"));
    return true;
}

bool CWebBrowserHost::Navigate(const std::string& url, const std::string& errorPage) {
    if (!m_pBrowser) return false;
    m_pSite->SetErrorPage(win32::Wide(errorPage));
    BSTR address = ::SysAllocString(win32::Wide(url).c_str());
    const HRESULT hr = m_pBrowser->Navigate(address, nullptr, nullptr, nullptr, nullptr);
    ::SysFreeString(address);
    Trace("navigating to " + url + " (" + Hex(hr) + ")");
    return SUCCEEDED(hr);
}

bool CWebBrowserHost::TranslateAccelerator(MSG& msg) {
    if (!m_pObject || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    IOleInPlaceActiveObject* active = nullptr;
    if (FAILED(m_pObject->QueryInterface(IID_IOleInPlaceActiveObject,
                                         reinterpret_cast<void**>(&active))))
        return false;
    HWND window = nullptr;
    active->GetWindow(&window);
    bool taken = false;
    if (window && (msg.hwnd == window || ::IsChild(window, msg.hwnd)))
        taken = active->TranslateAccelerator(&msg) == S_OK;
    active->Release();
    return taken;
}

void CWebBrowserHost::Close() {
    if (m_pBrowser) {
        IConnectionPointContainer* points = nullptr;
        if (m_dwCookie && SUCCEEDED(m_pBrowser->QueryInterface(
                              IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)))) {
            IConnectionPoint* point = nullptr;
            if (SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &point))) {
                point->Unadvise(m_dwCookie);
                point->Release();
            }
            points->Release();
        }
        m_dwCookie = 0;
        m_pBrowser->Stop();
        m_pBrowser->Release();
        m_pBrowser = nullptr;
    }
    if (m_pSite) m_pSite->SetBrowser(nullptr);
    if (m_pObject) {
        IOleInPlaceObject* inPlace = nullptr;
        if (SUCCEEDED(m_pObject->QueryInterface(IID_IOleInPlaceObject,
                                                reinterpret_cast<void**>(&inPlace)))) {
            inPlace->InPlaceDeactivate();
            inPlace->Release();
        }
        m_pObject->Close(OLECLOSE_NOSAVE);
        m_pObject->SetClientSite(nullptr);
        m_pObject->Release();
        m_pObject = nullptr;
    }
    if (m_pSite) {
        m_pSite->Release();
        m_pSite = nullptr;
    }
}

}  // namespace launcher::win

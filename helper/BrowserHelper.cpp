// The browser helper object: sited on one browser window, it listens to the window's
// events, judges every new window, closes the unwanted ones and keeps the window's bars
// and modes as the settings ask.
#include "helper/BrowserHelper.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <atomic>
#include <new>
#include <optional>

#include "helper/Events.h"
#include "helper/HelperCache.h"
#include "helper/KillWriter.h"
#include "helper/Module.h"
#include "rules/RuleMatch.h"
#include "settings/LocalTime.h"

using Microsoft::WRL::ComPtr;

namespace helper {

namespace {

// dwFlags of NewWindow3 that make a window the user's own: "Open in New Window" or a
// shift-click (NWMF_USERREQUESTED), or a pop-up let through from the information bar
// (NWMF_USERALLOWED).
constexpr long kUsersOwn = 0x80 | 0x100;
// NewWindow2 and NewWindow3 for one window come back to back; a pair further apart than
// this is two windows.
constexpr DWORD kPairMs = 1000;
// How long the last window's SetSite(nullptr) waits for the kills still to be recorded.
constexpr DWORD kCloseDrainMs = 1000;
// Every window of a browser process is of one browser version: what one window's browser
// tells (or a NewWindow3 that arrives) holds for all.
std::atomic<bool> g_sendsNewWindow3{false};
// Helpers sited on a window in this process: when the last lets go, the browser is closing.
std::atomic<long> g_sited{0};

// Whether the browser fires NewWindow3 (with the pop-up's address and whether the user
// asked for the window) after NewWindow2: its own type library says so.
bool OffersNewWindow3(IWebBrowser2* browser)
{
    ComPtr<ITypeInfo> info;
    ComPtr<ITypeLib> library;
    ComPtr<ITypeInfo> events;
    UINT index = 0;
    if (FAILED(browser->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) || !info ||
        FAILED(info->GetContainingTypeLib(&library, &index)) || !library ||
        FAILED(library->GetTypeInfoOfGuid(DIID_DWebBrowserEvents2, &events)) || !events)
        return false;
    wchar_t name[] = L"NewWindow3";
    LPOLESTR names[] = {name};
    MEMBERID id = 0;
    return SUCCEEDED(events->GetIDsOfNames(names, 1, &id)) && id == DISPID_NEWWINDOW3;
}

// The browser's top-level address: the page the user visits, whatever frame opened a window.
std::string LocationUrl(IWebBrowser2* browser)
{
    BSTR url = nullptr;
    std::string result;
    if (SUCCEEDED(browser->get_LocationURL(&url)) && url) {
        try {
            result = Ansi(url, SysStringLen(url));
        } catch (...) {
            SysFreeString(url);
            throw;
        }
    }
    SysFreeString(url);
    return result;
}

bool SameObject(IUnknown* a, IUnknown* b)
{
    ComPtr<IUnknown> first, second;
    // Only IUnknown tells one object from another: each interface may be a pointer of its own.
    return a && b && SUCCEEDED(a->QueryInterface(IID_PPV_ARGS(&first))) &&
           SUCCEEDED(b->QueryInterface(IID_PPV_ARGS(&second))) &&
           first.Get() == second.Get(); // MinGW's ComPtr == is not
}

// The eight options: modes off and bars shown where the settings say so. An option that is
// off is never touched, and a property already right is not set again.
void ApplyOptions(IWebBrowser2* browser, const TQuellorSettings& s)
{
    VARIANT_BOOL on = VARIANT_FALSE;
    if (s.DisableTheater && SUCCEEDED(browser->get_TheaterMode(&on)) && on)
        browser->put_TheaterMode(VARIANT_FALSE);
    on = VARIANT_FALSE;
    if (s.DisableFullScreen && SUCCEEDED(browser->get_FullScreen(&on)) && on)
        browser->put_FullScreen(VARIANT_FALSE);
    on = VARIANT_TRUE;
    if (s.SilentMode && SUCCEEDED(browser->get_Silent(&on)) && !on)
        browser->put_Silent(VARIANT_TRUE);
    // Not every browser reports whether the window can be resized: then it is said anyway.
    on = VARIANT_FALSE;
    if (s.AlwaysAllowRezize && (FAILED(browser->get_Resizable(&on)) || !on))
        browser->put_Resizable(VARIANT_TRUE);
    int toolBar = 1;
    if (s.AlwaysShowToolBar && SUCCEEDED(browser->get_ToolBar(&toolBar)) && !toolBar)
        browser->put_ToolBar(TRUE);
    on = VARIANT_TRUE;
    if (s.AlwaysShowStatusBar && SUCCEEDED(browser->get_StatusBar(&on)) && !on)
        browser->put_StatusBar(VARIANT_TRUE);
    on = VARIANT_TRUE;
    if (s.AlwaysShowAddressBar && SUCCEEDED(browser->get_AddressBar(&on)) && !on)
        browser->put_AddressBar(VARIANT_TRUE);
    on = VARIANT_TRUE;
    if (s.AlwaysShowMenuBar && SUCCEEDED(browser->get_MenuBar(&on)) && !on)
        browser->put_MenuBar(VARIANT_TRUE);
}

class TBrowserHelper final : public IObjectWithSite, public IDispatch {
  public:
    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) noexcept override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid == IID_IUnknown || riid == IID_IObjectWithSite)
            *out = static_cast<IObjectWithSite*>(this);
        else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2)
            *out = static_cast<IDispatch*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IObjectWithSite
    HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) noexcept override
    {
        // Kept alive through the call, whatever the browser does to us inside it.
        ComPtr<IObjectWithSite> self(this);
        try {
            if (Disconnect() && !site) DrainKills(kCloseDrainMs);
            if (!site) return S_OK;
            ComPtr<IWebBrowser2> browser;
            HRESULT hr = site->QueryInterface(IID_PPV_ARGS(&browser));
            if (FAILED(hr)) return hr;
            ComPtr<IConnectionPointContainer> container;
            hr = browser.As(&container);
            if (FAILED(hr)) return hr;
            ComPtr<IConnectionPoint> point;
            hr = container->FindConnectionPoint(DIID_DWebBrowserEvents2, &point);
            if (FAILED(hr)) return hr;
            DWORD cookie = 0;
            hr = point->Advise(static_cast<IDispatch*>(this), &cookie);
            if (FAILED(hr)) return hr;
            if (!g_sendsNewWindow3 && OffersNewWindow3(browser.Get())) g_sendsNewWindow3 = true;
            browser_ = browser;
            point_ = std::move(point);
            cookie_ = cookie;
            sited_ = true;
            ++g_sited;
            // A window may open with its bars already hidden (window.open's features).
            if (auto state = THelperCache::Instance().Fresh(false))
                ApplyOptions(browser.Get(), state->settings);
            return S_OK;
        } catch (...) {
            Disconnect();
            return E_FAIL;
        }
    }
    HRESULT STDMETHODCALLTYPE GetSite(REFIID riid, void** out) noexcept override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!browser_) return E_FAIL;
        return browser_->QueryInterface(riid, out);
    }

    // IDispatch: only Invoke means anything to an event sink.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override
    {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override
    {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID,
                                            DISPID*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) noexcept override
    {
        // Our own references, taken as the event arrives: a SetSite(nullptr) inside a call
        // back into the browser cannot pull either away from under the handler.
        ComPtr<IDispatch> self(this);
        ComPtr<IWebBrowser2> browser = browser_;
        if (!browser) return S_OK; // an event after SetSite(nullptr)
        try {
            switch (id) {
            case DISPID_NEWWINDOW2:
                OnNewWindow(browser.Get(), 2, params);
                break;
            case DISPID_NEWWINDOW3:
                OnNewWindow(browser.Get(), 3, params);
                break;
            case DISPID_BEFORENAVIGATE2:
                OnBeforeNavigate(browser.Get(), params);
                break;
            case DISPID_DOCUMENTCOMPLETE:
                OnDocumentComplete(browser.Get(), params);
                break;
            case DISPID_ONTHEATERMODE:
            case DISPID_ONFULLSCREEN:
            case DISPID_WINDOWSETRESIZABLE:
            case DISPID_ONTOOLBAR:
            case DISPID_ONSTATUSBAR:
            case DISPID_ONADDRESSBAR:
            case DISPID_ONMENUBAR:
                OnOption(browser.Get(), id, params);
                break;
            default:
                return DISP_E_MEMBERNOTFOUND;
            }
        } catch (...) {
            // Never an exception into the browser.
        }
        return S_OK;
    }

  private:
    ~TBrowserHelper()
    {
        if (sited_) --g_sited;
    }

    // True when this was the last helper of the process sited on a window.
    bool Disconnect() noexcept
    {
        if (point_) point_->Unadvise(cookie_);
        point_.Reset();
        browser_.Reset();
        cookie_ = 0;
        pending_.reset();
        bool last = sited_ && --g_sited == 0;
        sited_ = false;
        return last;
    }

    // One judgement per new window, whether the browser sends NewWindow2, NewWindow3 or both.
    void OnNewWindow(IWebBrowser2* browser, int kind, DISPPARAMS* params)
    {
        const UINT count = kind == 3 ? 5 : 2;
        VARIANT_BOOL* cancel = CancelOf(Arg(params, 1, count));
        if (!cancel) return;
        DWORD now = GetTickCount();
        // A NewWindow3 right after its NewWindow2 completes the pair. A NewWindow2 is never
        // taken for the end of a pair: after a NewWindow3 alone it is the next window's.
        bool second =
            kind == 3 && pending_ && pending_->kind == 2 && now - pending_->tick < kPairMs;
        std::optional<Pending> first = pending_;
        pending_.reset();
        if (kind == 3) g_sendsNewWindow3 = true;
        if (second && first->judged) {
            if (first->kill) *cancel = VARIANT_TRUE;
            return;
        }
        if (kind == 2 && g_sendsNewWindow3) {
            // NewWindow3 follows with the pop-up's address and the user's part: judge that one.
            pending_ = Pending{kind, false, false, now};
            return;
        }

        bool usersOwn = false;
        long flags = 0;
        if (kind == 3 && IntOf(Arg(params, 2, count), flags)) usersOwn = (flags & kUsersOwn) != 0;
        auto state = THelperCache::Instance().Fresh(true);
        std::string opening, popup;
        bool kill;
        try {
            // "While visiting" is the page in the browser's address bar: a frame's document
            // (NewWindow3's URL context) is an advert server or a widget, not the site.
            opening = LocationUrl(browser);
            if (kind == 3) {
                UINT length = 0;
                const wchar_t* text = TextOf(Arg(params, 4, count), length);
                popup = Ansi(text, length);
            }
            kill = Judge(state.get(), opening, popup, usersOwn);
        } catch (...) {
            // Out of memory before the addresses could be read: the default decides.
            kill = Judge(state.get(), {}, {}, usersOwn, false);
        }
        // The verdict first; what follows can fail only on its own.
        if (kill) *cancel = VARIANT_TRUE;
        // A browser not yet known to send NewWindow3 may still send it after this one.
        if (kind == 2) pending_ = Pending{kind, true, kill, now};
        if (kill && state) {
            try {
                QueueKill({{NowAsOleDate(), CutAnsi(popup, 255), CutAnsi(opening, 255)},
                           state->settings.LogFile,
                           state->settings.MaxLogSize});
            } catch (...) {
                // out of memory: the window is closed all the same
            }
        }
    }

    static bool Judge(const THelperState* state, const std::string& opening,
                      const std::string& popup, bool usersOwn, bool withRules = true)
    {
        rules::TPopupPolicy policy = state ? state->policy : rules::TPopupPolicy{};
        // The administrator's rules, the computer's first, then the user's own.
        const bool ruled = state && withRules;
        const rules::TRuleSet* ruleSets[] = {ruled ? state->policyRules[0].get() : nullptr,
                                             ruled ? state->policyRules[1].get() : nullptr,
                                             ruled ? state->rules.get() : nullptr};
        rules::TPopupRequest request;
        request.openingPage = opening;
        request.popupUrl = popup;
        request.userRequested = usersOwn;
        rules::TVerdict verdict = rules::JudgePopup(request, policy, ruleSets);
        // CTRL comes first in the order, but asking for the key's state costs the browser a
        // round trip: only a kill can be overruled by it.
        if (verdict.kill && policy.ignoreWhenCtrlKey && (GetAsyncKeyState(VK_CONTROL) & 0x8000)) {
            request.ctrlDown = true;
            verdict = rules::JudgePopup(request, policy, ruleSets);
        }
        return verdict.kill;
    }

    // Advert frames inside a page; the page itself is never cancelled here.
    void OnBeforeNavigate(IWebBrowser2* browser, DISPPARAMS* params)
    {
        const UINT count = 7;
        VARIANT_BOOL* cancel = CancelOf(Arg(params, 6, count));
        IUnknown* target = ObjectOf(Arg(params, 0, count));
        if (!cancel || !target) return;
        auto state = THelperCache::Instance().Fresh(false);
        if (!state || !state->settings.BlockAds || SameObject(target, browser)) return;
        UINT length = 0;
        const wchar_t* url = TextOf(Arg(params, 1, count), length);
        if (url && rules::IsAdvertAddress(Ansi(url, length))) *cancel = VARIANT_TRUE;
    }

    // The page has loaded: the options again, as it may have changed the window on its way.
    // A frame's document completes too; only the page's own counts.
    void OnDocumentComplete(IWebBrowser2* browser, DISPPARAMS* params)
    {
        IUnknown* target = ObjectOf(Arg(params, 0, 2));
        if (target && !SameObject(target, browser)) return;
        if (auto state = THelperCache::Instance().Fresh(false))
            ApplyOptions(browser, state->settings);
    }

    // The page turned a mode on or a bar off: put it back when the settings say so. An
    // option that is off is never touched.
    void OnOption(IWebBrowser2* browser, DISPID id, DISPPARAMS* params)
    {
        bool value = false;
        if (!BoolOf(Arg(params, 0, 1), value)) return;
        auto state = THelperCache::Instance().Fresh(false);
        if (!state) return;
        const TQuellorSettings& s = state->settings;
        switch (id) {
        case DISPID_ONTHEATERMODE:
            if (value && s.DisableTheater) browser->put_TheaterMode(VARIANT_FALSE);
            break;
        case DISPID_ONFULLSCREEN:
            if (value && s.DisableFullScreen) browser->put_FullScreen(VARIANT_FALSE);
            break;
        case DISPID_WINDOWSETRESIZABLE:
            if (!value && s.AlwaysAllowRezize) browser->put_Resizable(VARIANT_TRUE);
            break;
        case DISPID_ONTOOLBAR:
            if (!value && s.AlwaysShowToolBar) browser->put_ToolBar(TRUE);
            break;
        case DISPID_ONSTATUSBAR:
            if (!value && s.AlwaysShowStatusBar) browser->put_StatusBar(VARIANT_TRUE);
            break;
        case DISPID_ONADDRESSBAR:
            if (!value && s.AlwaysShowAddressBar) browser->put_AddressBar(VARIANT_TRUE);
            break;
        case DISPID_ONMENUBAR:
            if (!value && s.AlwaysShowMenuBar) browser->put_MenuBar(VARIANT_TRUE);
            break;
        default:
            break;
        }
    }

    struct Pending {
        int kind;
        bool judged; // false: NewWindow2 waiting for its NewWindow3
        bool kill;
        DWORD tick;
    };

    ObjectCount count_;
    std::atomic<ULONG> refs_{1};
    ComPtr<IWebBrowser2> browser_;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    bool sited_ = false;
    std::optional<Pending> pending_;
};

} // namespace

HRESULT CreateBrowserHelper(REFIID riid, void** out) noexcept
{
    TBrowserHelper* helper = new (std::nothrow) TBrowserHelper;
    if (!helper) return E_OUTOFMEMORY;
    HRESULT hr = helper->QueryInterface(riid, out);
    helper->Release();
    return hr;
}

} // namespace helper

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
#include "helper/Module.h"
#include "history/LogWriter.h"
#include "rules/RuleMatch.h"
#include "settings/LocalTime.h"

using Microsoft::WRL::ComPtr;

namespace helper {

namespace {

// dwFlags of NewWindow3: the user chose "Open in New Window" or shift-clicked.
constexpr long kUserRequested = 0x80;
// NewWindow2 and NewWindow3 for one window come back to back; a pair further apart than
// this is two windows.
constexpr DWORD kPairMs = 1000;
// Every window of a browser process is of one browser version: what one window's browser
// tells (or a NewWindow3 that arrives) holds for all.
std::atomic<bool> g_sendsNewWindow3{false};

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
        try {
            Disconnect();
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
            browser_ = std::move(browser);
            point_ = std::move(point);
            cookie_ = cookie;
            if (auto state = THelperCache::Instance().Fresh()) ApplySilent(*state);
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
        if (!browser_) return S_OK; // an event after SetSite(nullptr)
        // Kept alive through the event, whatever the browser does to us inside it.
        ComPtr<IDispatch> self(this);
        try {
            switch (id) {
            case DISPID_NEWWINDOW2:
                OnNewWindow(2, params);
                break;
            case DISPID_NEWWINDOW3:
                OnNewWindow(3, params);
                break;
            case DISPID_BEFORENAVIGATE2:
                OnBeforeNavigate(params);
                break;
            case DISPID_DOCUMENTCOMPLETE:
                OnDocumentComplete();
                break;
            case DISPID_ONTHEATERMODE:
            case DISPID_ONFULLSCREEN:
            case DISPID_WINDOWSETRESIZABLE:
            case DISPID_ONTOOLBAR:
            case DISPID_ONSTATUSBAR:
            case DISPID_ONADDRESSBAR:
            case DISPID_ONMENUBAR:
                OnOption(id, params);
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
    ~TBrowserHelper() = default;

    void Disconnect() noexcept
    {
        if (point_) point_->Unadvise(cookie_);
        point_.Reset();
        browser_.Reset();
        cookie_ = 0;
        pending_.reset();
    }

    static std::shared_ptr<const THelperState> State() { return THelperCache::Instance().Fresh(); }

    std::string LocationUrl()
    {
        BSTR url = nullptr;
        std::string result;
        if (SUCCEEDED(browser_->get_LocationURL(&url)) && url)
            result = Ansi(url, SysStringLen(url));
        SysFreeString(url);
        return result;
    }

    // One judgement per new window, whether the browser sends NewWindow2, NewWindow3 or both
    // (in either order): the second of a pair takes the first's verdict.
    void OnNewWindow(int kind, DISPPARAMS* params)
    {
        const UINT count = kind == 3 ? 5 : 2;
        VARIANT_BOOL* cancel = CancelOf(Arg(params, 1, count));
        if (!cancel) return;
        DWORD now = GetTickCount();
        // The second event of a pair follows the first at once; after it the pair is done,
        // so the next event starts a new window.
        bool second = pending_ && pending_->kind != kind && now - pending_->tick < kPairMs;
        std::optional<Pending> first = pending_;
        pending_.reset();
        if (kind == 3) g_sendsNewWindow3 = true;
        if (second && first->judged) {
            if (first->kill) *cancel = VARIANT_TRUE;
            return;
        }
        if (!second && kind == 2 && g_sendsNewWindow3) {
            // NewWindow3 follows with both addresses and the user's part: judge that one.
            pending_ = Pending{kind, false, false, now};
            return;
        }

        std::string opening, popup;
        bool userRequested = false;
        if (kind == 3) {
            long flags = 0;
            if (IntOf(Arg(params, 2, count), flags)) userRequested = (flags & kUserRequested) != 0;
            UINT length = 0;
            const wchar_t* text = TextOf(Arg(params, 3, count), length);
            opening = Ansi(text, length);
            text = TextOf(Arg(params, 4, count), length);
            popup = Ansi(text, length);
        } else {
            opening = LocationUrl();
        }
        bool kill = Judge(opening, popup, userRequested);
        if (kill) *cancel = VARIANT_TRUE;
        if (!second) pending_ = Pending{kind, true, kill, now};
    }

    bool Judge(const std::string& opening, const std::string& popup, bool userRequested)
    {
        auto state = State();
        if (!state) return false;
        rules::TPopupRequest request;
        request.openingPage = opening;
        request.popupUrl = popup;
        request.userRequested = userRequested;
        rules::TVerdict verdict = rules::JudgePopup(request, state->policy, state->rules);
        // CTRL comes first in the order, but asking for the key's state costs the browser a
        // round trip: only a kill can be overruled by it.
        if (verdict.kill && state->policy.ignoreWhenCtrlKey &&
            (GetAsyncKeyState(VK_CONTROL) & 0x8000)) {
            request.ctrlDown = true;
            verdict = rules::JudgePopup(request, state->policy, state->rules);
        }
        if (verdict.kill) {
            history::TLogEntry entry{NowAsOleDate(), CutAnsi(popup, 255), CutAnsi(opening, 255)};
            history::ReportKill(entry, state->settings.LogFile, state->settings.MaxLogSize);
        }
        return verdict.kill;
    }

    // Advert frames inside a page; the page itself is never cancelled here.
    void OnBeforeNavigate(DISPPARAMS* params)
    {
        const UINT count = 7;
        VARIANT_BOOL* cancel = CancelOf(Arg(params, 6, count));
        IUnknown* target = ObjectOf(Arg(params, 0, count));
        if (!cancel || !target) return;
        auto state = State();
        if (!state || !state->settings.BlockAds) return;
        ComPtr<IUnknown> frame, top;
        if (FAILED(target->QueryInterface(IID_PPV_ARGS(&frame))) || FAILED(browser_.As(&top)) ||
            frame.Get() == top.Get()) // MinGW's ComPtr == is not
            return;
        UINT length = 0;
        const wchar_t* url = TextOf(Arg(params, 1, count), length);
        if (url && rules::IsAdvertAddress(Ansi(url, length))) *cancel = VARIANT_TRUE;
    }

    void OnDocumentComplete()
    {
        auto state = State();
        if (!state) return;
        const TQuellorSettings& s = state->settings;
        VARIANT_BOOL on = VARIANT_FALSE;
        if (s.DisableTheater && SUCCEEDED(browser_->get_TheaterMode(&on)) && on)
            browser_->put_TheaterMode(VARIANT_FALSE);
        on = VARIANT_FALSE;
        if (s.DisableFullScreen && SUCCEEDED(browser_->get_FullScreen(&on)) && on)
            browser_->put_FullScreen(VARIANT_FALSE);
        ApplySilent(*state);
    }

    void ApplySilent(const THelperState& state)
    {
        VARIANT_BOOL silent = VARIANT_FALSE;
        if (state.settings.SilentMode && SUCCEEDED(browser_->get_Silent(&silent)) && !silent)
            browser_->put_Silent(VARIANT_TRUE);
    }

    // The page turned a mode on or a bar off: put it back when the settings say so. An
    // option that is off is never touched.
    void OnOption(DISPID id, DISPPARAMS* params)
    {
        bool value = false;
        if (!BoolOf(Arg(params, 0, 1), value)) return;
        auto state = State();
        if (!state) return;
        const TQuellorSettings& s = state->settings;
        switch (id) {
        case DISPID_ONTHEATERMODE:
            if (value && s.DisableTheater) browser_->put_TheaterMode(VARIANT_FALSE);
            break;
        case DISPID_ONFULLSCREEN:
            if (value && s.DisableFullScreen) browser_->put_FullScreen(VARIANT_FALSE);
            break;
        case DISPID_WINDOWSETRESIZABLE:
            if (!value && s.AlwaysAllowRezize) browser_->put_Resizable(VARIANT_TRUE);
            break;
        case DISPID_ONTOOLBAR:
            if (!value && s.AlwaysShowToolBar) browser_->put_ToolBar(TRUE);
            break;
        case DISPID_ONSTATUSBAR:
            if (!value && s.AlwaysShowStatusBar) browser_->put_StatusBar(VARIANT_TRUE);
            break;
        case DISPID_ONADDRESSBAR:
            if (!value && s.AlwaysShowAddressBar) browser_->put_AddressBar(VARIANT_TRUE);
            break;
        case DISPID_ONMENUBAR:
            if (!value && s.AlwaysShowMenuBar) browser_->put_MenuBar(VARIANT_TRUE);
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

#include "Browser.h"

#include <exdispid.h>
#include <ocidl.h>
#include <olectl.h>

#include <array>
#include <cstddef>
#include <utility>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace iehost {

namespace {

struct PropertyInfo {
    const char* name;
    DISPID event; // fired when a helper changes the value
    bool isBool;
    long initial; // a browser window as it opens: every bar shown
};
// In the order of Property.
constexpr PropertyInfo kProperties[] = {
    {"Silent", DISPID_UNKNOWN, true, 0},          {"TheaterMode", DISPID_ONTHEATERMODE, true, 0},
    {"FullScreen", DISPID_ONFULLSCREEN, true, 0}, {"ToolBar", DISPID_ONTOOLBAR, false, 1},
    {"StatusBar", DISPID_ONSTATUSBAR, true, 1},   {"AddressBar", DISPID_ONADDRESSBAR, true, 1},
    {"MenuBar", DISPID_ONMENUBAR, true, 1},       {"Resizable", DISPID_UNKNOWN, true, 1},
    {"Visible", DISPID_UNKNOWN, true, 1},
};
constexpr std::size_t kPropertyCount = std::size(kProperties);

std::size_t IndexOf(Property property)
{
    return static_cast<std::size_t>(property);
}

// Addresses come and go as UTF-8, so a script can hold any character a page's may.
std::wstring Widen(const std::string& text)
{
    if (text.empty()) return {};
    int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        length, nullptr, nullptr);
    return narrow;
}

VARIANT_BOOL ToVariantBool(bool value)
{
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

// Hands out a copy the caller frees, as every BSTR getter must.
HRESULT CopyOut(const std::wstring& text, BSTR* out)
{
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// A VARIANT that owns what it holds: the values behind the by-reference arguments.
class Variant {
  public:
    Variant() { VariantInit(&value_); }
    explicit Variant(const std::wstring& text) : Variant()
    {
        value_.vt = VT_BSTR;
        value_.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    explicit Variant(long number) : Variant()
    {
        value_.vt = VT_I4;
        value_.lVal = number;
    }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    // The argument a sink receives: VT_BYREF | VT_VARIANT pointing at this value.
    VARIANTARG ByRef()
    {
        VARIANTARG arg;
        VariantInit(&arg);
        arg.vt = VT_BYREF | VT_VARIANT;
        arg.pvarVal = &value_;
        return arg;
    }

  private:
    VARIANT value_;
};

// Arguments passed by value borrow what they point at: the sinks' Invoke copies what it keeps.
VARIANTARG DispatchArg(IDispatch* dispatch)
{
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = VT_DISPATCH;
    arg.pdispVal = dispatch;
    return arg;
}
VARIANTARG BoolRefArg(VARIANT_BOOL* value)
{
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = VT_BYREF | VT_BOOL;
    arg.pboolVal = value;
    return arg;
}
VARIANTARG BstrArg(BSTR text)
{
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = text;
    return arg;
}

// An owned BSTR for arguments passed by value.
class Bstr {
  public:
    explicit Bstr(const std::wstring& text)
        : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
    }
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return text_; }

  private:
    BSTR text_;
};

// Out-pointers of methods we do not implement are cleared, so a caller that ignores the
// result still sees nothing rather than garbage.
template <typename T> HRESULT NotImplemented(T* out)
{
    if (out) *out = T{};
    return E_NOTIMPL;
}
HRESULT NotImplemented(VARIANT* out)
{
    if (out) VariantInit(out);
    return E_NOTIMPL;
}

// IWebBrowser2 with every method answering E_NOTIMPL: the browser and its frames
// override what they keep for real.
class WebBrowserBase : public IWebBrowser2 {
  public:
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        return NotImplemented(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        return NotImplemented(info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO*, UINT*) override
    {
        return NotImplemented(result);
    }

    // IWebBrowser
    HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoHome() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GoSearch() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Navigate(BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Refresh() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Refresh2(VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Application(IDispatch** out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE get_Parent(IDispatch** out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE get_Container(IDispatch** out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch** out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE get_TopLevelContainer(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE get_Type(BSTR* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE get_Left(LONG* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE put_Left(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Top(LONG* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE put_Top(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Width(LONG* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE put_Width(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Height(LONG* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE put_Height(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocationName(BSTR* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE get_Busy(VARIANT_BOOL* out) override { return NotImplemented(out); }

    // IWebBrowserApp
    HRESULT STDMETHODCALLTYPE Quit() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ClientToWindow(int*, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutProperty(BSTR, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProperty(BSTR, VARIANT* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE get_HWND(SHANDLE_PTR* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE get_FullName(BSTR* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE get_Visible(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_Visible(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_StatusBar(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_StatusBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_StatusText(BSTR* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE put_StatusText(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ToolBar(int* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE put_ToolBar(int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_MenuBar(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_MenuBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FullScreen(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_FullScreen(VARIANT_BOOL) override { return E_NOTIMPL; }

    // IWebBrowser2
    HRESULT STDMETHODCALLTYPE Navigate2(VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueryStatusWB(OLECMDID, OLECMDF* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE ExecWB(OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ShowBrowserBar(VARIANT*, VARIANT*, VARIANT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ReadyState(READYSTATE* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE get_Offline(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_Offline(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Silent(VARIANT_BOOL* out) override { return NotImplemented(out); }
    HRESULT STDMETHODCALLTYPE put_Silent(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegisterAsBrowser(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_RegisterAsBrowser(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegisterAsDropTarget(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_RegisterAsDropTarget(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_TheaterMode(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_TheaterMode(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AddressBar(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_AddressBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Resizable(VARIANT_BOOL* out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE put_Resizable(VARIANT_BOOL) override { return E_NOTIMPL; }

  protected:
    WebBrowserBase() = default;
    virtual ~WebBrowserBase() = default;

    bool IsBrowserInterface(REFIID iid) const
    {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
               IsEqualIID(iid, IID_IWebBrowser) || IsEqualIID(iid, IID_IWebBrowserApp) ||
               IsEqualIID(iid, IID_IWebBrowser2);
    }
};

// A sub-frame's browser, the pDisp of a frame's navigation. It holds its top-level
// browser, so a helper that keeps a frame shows up in the browser's references.
class Frame final : public WebBrowserBase {
  public:
    static ComPtr<Frame> Create(IWebBrowser2* top) { return ComPtr<Frame>(new Frame(top)); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsBrowserInterface(iid)) return E_NOINTERFACE;
        *out = static_cast<IWebBrowser2*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // What a helper may use to tell a frame from the top-level page.
    HRESULT STDMETHODCALLTYPE get_Parent(IDispatch** out) override
    {
        if (!out) return E_POINTER;
        *out = top_.Get();
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_TopLevelContainer(VARIANT_BOOL* out) override
    {
        if (!out) return E_POINTER;
        *out = VARIANT_FALSE;
        return S_OK;
    }

  private:
    explicit Frame(IWebBrowser2* top) : top_(top) {}

    // Born unowned: the first ComPtr takes the first reference. (MinGW's ComPtr::Attach
    // adds a reference of its own, unlike Microsoft's, so we never attach.)
    LONG references_ = 0;
    ComPtr<IWebBrowser2> top_;
};

// The type library of a browser before NewWindow3 (Internet Explorer 6 before Service Pack
// 2): the browser's interface and its events, of which NewWindow2 is the newest. Made in
// memory, as no such library is installed here.
HRESULT OlderBrowserLibrary(ComPtr<ITypeLib>& library, ComPtr<ITypeInfo>& browserInfo)
{
    ComPtr<ICreateTypeLib2> creating;
    HRESULT hr = CreateTypeLib2(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32,
                                const_cast<LPOLESTR>(L"shdocvw6.tlb"), &creating);
    if (FAILED(hr)) return hr;
    creating->SetGuid(LIBID_SHDocVw);
    creating->SetVersion(1, 1);
    creating->SetName(const_cast<LPOLESTR>(L"SHDocVw"));

    ComPtr<ICreateTypeInfo> events;
    hr = creating->CreateTypeInfo(const_cast<LPOLESTR>(L"DWebBrowserEvents2"), TKIND_DISPATCH,
                                  &events);
    if (FAILED(hr)) return hr;
    events->SetGuid(DIID_DWebBrowserEvents2);
    const struct {
        DISPID id;
        const wchar_t* name;
    } kEvents[] = {
        {DISPID_BEFORENAVIGATE2, L"BeforeNavigate2"},
        {DISPID_NEWWINDOW2, L"NewWindow2"},
        {DISPID_NAVIGATECOMPLETE2, L"NavigateComplete2"},
        {DISPID_DOCUMENTCOMPLETE, L"DocumentComplete"},
        {DISPID_ONTOOLBAR, L"OnToolBar"},
    };
    UINT index = 0;
    for (const auto& event : kEvents) {
        FUNCDESC desc{};
        desc.memid = event.id;
        desc.funckind = FUNC_DISPATCH;
        desc.invkind = INVOKE_FUNC;
        desc.callconv = CC_STDCALL;
        desc.elemdescFunc.tdesc.vt = VT_VOID;
        LPOLESTR names[] = {const_cast<LPOLESTR>(event.name)};
        if (FAILED(hr = events->AddFuncDesc(index, &desc)) ||
            FAILED(hr = events->SetFuncAndParamNames(index, names, 1)))
            return hr;
        ++index;
    }
    ComPtr<ICreateTypeInfo> browser;
    hr = creating->CreateTypeInfo(const_cast<LPOLESTR>(L"IWebBrowser2"), TKIND_DISPATCH, &browser);
    if (FAILED(hr)) return hr;
    browser->SetGuid(IID_IWebBrowser2);
    if (FAILED(hr = events->LayOut()) || FAILED(hr = browser->LayOut()) ||
        FAILED(hr = creating.As(&library)))
        return hr;
    return browser.As(&browserInfo);
}

} // namespace

class Browser::Object final : public WebBrowserBase, public IConnectionPointContainer {
  public:
    explicit Object(HelperSetCallback onHelperSet) : onHelperSet_(std::move(onHelperSet))
    {
        for (std::size_t i = 0; i < kPropertyCount; ++i)
            values_[i] = kProperties[i].initial;
    }

    // IUnknown, shared by the connection point: one count for the whole object. As in the
    // browser, the object's identity, its IDispatch and its IWebBrowser2 are three pointers:
    // only what QueryInterface(IID_IUnknown) gives tells one object from another.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown))
            *out = static_cast<IUnknown*>(&identity_);
        else if (IsEqualIID(iid, IID_IDispatch))
            *out = static_cast<IDispatch*>(&dispatch_);
        else if (IsBrowserInterface(iid))
            *out = static_cast<IWebBrowser2*>(this);
        else if (IsEqualIID(iid, IID_IConnectionPointContainer))
            *out = static_cast<IConnectionPointContainer*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // The browser's type information, as Internet Explorer gives it: from its type library,
    // which tells a helper which events this browser fires. An older browser serves its own
    // older library, which knows no NewWindow3.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override
    {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        ComPtr<ITypeLib> library;
        if (older_) {
            ComPtr<ITypeInfo> browserInfo;
            HRESULT hr = OlderBrowserLibrary(library, browserInfo);
            if (FAILED(hr)) return hr;
            *info = browserInfo.Detach();
            return S_OK;
        }
        HRESULT hr = LoadRegTypeLib(LIBID_SHDocVw, 1, 1, lcid, &library);
        return FAILED(hr) ? hr : library->GetTypeInfoOfGuid(IID_IWebBrowser2, info);
    }
    void SetOlder(bool older) { older_ = older; }

    IUnknown* Identity() { return &identity_; }
    IDispatch* Dispatch() { return &dispatch_; }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override
    {
        return NotImplemented(out);
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, DIID_DWebBrowserEvents2)) return CONNECT_E_NOCONNECTION;
        *out = &events_;
        AddRef();
        return S_OK;
    }

    // The properties kept for real.
    // With no HTML engine there is no page title: the name is the address, as the
    // browser shows for a page without one.
    HRESULT STDMETHODCALLTYPE get_LocationName(BSTR* out) override
    {
        return CopyOut(location_, out);
    }
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* out) override
    {
        return CopyOut(location_, out);
    }
    HRESULT STDMETHODCALLTYPE get_Silent(VARIANT_BOOL* out) override
    {
        return GetBool(Property::Silent, out);
    }
    HRESULT STDMETHODCALLTYPE put_Silent(VARIANT_BOOL value) override
    {
        return HelperSet(Property::Silent, value);
    }
    HRESULT STDMETHODCALLTYPE get_TheaterMode(VARIANT_BOOL* out) override
    {
        return GetBool(Property::TheaterMode, out);
    }
    HRESULT STDMETHODCALLTYPE put_TheaterMode(VARIANT_BOOL value) override
    {
        return HelperSet(Property::TheaterMode, value);
    }
    HRESULT STDMETHODCALLTYPE get_FullScreen(VARIANT_BOOL* out) override
    {
        return GetBool(Property::FullScreen, out);
    }
    HRESULT STDMETHODCALLTYPE put_FullScreen(VARIANT_BOOL value) override
    {
        return HelperSet(Property::FullScreen, value);
    }
    HRESULT STDMETHODCALLTYPE get_ToolBar(int* out) override
    {
        if (!out) return E_POINTER;
        *out = static_cast<int>(Value(Property::ToolBar));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ToolBar(int value) override
    {
        return HelperSet(Property::ToolBar, value);
    }
    HRESULT STDMETHODCALLTYPE get_StatusBar(VARIANT_BOOL* out) override
    {
        return GetBool(Property::StatusBar, out);
    }
    HRESULT STDMETHODCALLTYPE put_StatusBar(VARIANT_BOOL value) override
    {
        return HelperSet(Property::StatusBar, value);
    }
    HRESULT STDMETHODCALLTYPE get_AddressBar(VARIANT_BOOL* out) override
    {
        return GetBool(Property::AddressBar, out);
    }
    HRESULT STDMETHODCALLTYPE put_AddressBar(VARIANT_BOOL value) override
    {
        return HelperSet(Property::AddressBar, value);
    }
    HRESULT STDMETHODCALLTYPE get_MenuBar(VARIANT_BOOL* out) override
    {
        return GetBool(Property::MenuBar, out);
    }
    HRESULT STDMETHODCALLTYPE put_MenuBar(VARIANT_BOOL value) override
    {
        return HelperSet(Property::MenuBar, value);
    }
    HRESULT STDMETHODCALLTYPE get_Resizable(VARIANT_BOOL* out) override
    {
        return GetBool(Property::Resizable, out);
    }
    HRESULT STDMETHODCALLTYPE put_Resizable(VARIANT_BOOL value) override
    {
        return HelperSet(Property::Resizable, value);
    }
    HRESULT STDMETHODCALLTYPE get_Visible(VARIANT_BOOL* out) override
    {
        return GetBool(Property::Visible, out);
    }
    HRESULT STDMETHODCALLTYPE put_Visible(VARIANT_BOOL value) override
    {
        return HelperSet(Property::Visible, value);
    }

    // ---- the host's side ----

    void ForgetCallback() { onHelperSet_ = {}; }

    long Value(Property property) const { return values_[IndexOf(property)]; }
    void SetValue(Property property, long value)
    {
        values_[IndexOf(property)] = kProperties[IndexOf(property)].isBool ? value != 0 : value;
    }
    const std::wstring& Location() const { return location_; }
    void SetLocation(std::wstring url) { location_ = std::move(url); }
    long Sinks() const { return static_cast<long>(sinks_.size()); }
    long References() const { return references_; }

    // Invokes every sink advised when the firing starts. A sink may advise, unadvise or
    // fire again (a put_ from inside its handler) while we go: we walk our own copy.
    void Fire(DISPID dispid, VARIANTARG* args, UINT count)
    {
        std::vector<ComPtr<IDispatch>> targets;
        targets.reserve(sinks_.size());
        for (const Sink& sink : sinks_)
            targets.push_back(sink.dispatch);
        DISPPARAMS params{args, nullptr, count, 0};
        for (const ComPtr<IDispatch>& target : targets)
            target->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                           nullptr, nullptr);
    }

    void FireBool(DISPID dispid, bool value)
    {
        VARIANTARG arg;
        VariantInit(&arg);
        arg.vt = VT_BOOL;
        arg.boolVal = ToVariantBool(value);
        Fire(dispid, &arg, 1);
    }

  private:
    struct Sink {
        DWORD cookie;
        ComPtr<IDispatch> dispatch;
    };

    // The one connection point, for DWebBrowserEvents2. It lives inside the browser and
    // counts on the browser's references.
    class EventPoint final : public IConnectionPoint {
      public:
        explicit EventPoint(Object& owner) : owner_(owner) {}

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
        {
            if (!out) return E_POINTER;
            *out = nullptr;
            if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint))
                return E_NOINTERFACE;
            *out = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }

        HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override
        {
            if (!iid) return E_POINTER;
            *iid = DIID_DWebBrowserEvents2;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE
        GetConnectionPointContainer(IConnectionPointContainer** out) override
        {
            if (!out) return E_POINTER;
            *out = &owner_;
            owner_.AddRef();
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override
        {
            if (!sink || !cookie) return E_POINTER;
            *cookie = 0;
            ComPtr<IDispatch> dispatch;
            if (FAILED(sink->QueryInterface(IID_PPV_ARGS(&dispatch))))
                return CONNECT_E_CANNOTCONNECT;
            *cookie = owner_.nextCookie_++;
            owner_.sinks_.push_back({*cookie, std::move(dispatch)});
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override
        {
            auto& sinks = owner_.sinks_;
            for (auto it = sinks.begin(); it != sinks.end(); ++it) {
                if (it->cookie != cookie) continue;
                // Released after it leaves the list: its Release may call back into us.
                ComPtr<IDispatch> leaving = std::move(it->dispatch);
                sinks.erase(it);
                return S_OK;
            }
            return CONNECT_E_NOCONNECTION;
        }
        HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override
        {
            return NotImplemented(out);
        }

      private:
        Object& owner_;
    };

    HRESULT GetBool(Property property, VARIANT_BOOL* out) const
    {
        if (!out) return E_POINTER;
        *out = ToVariantBool(Value(property) != 0);
        return S_OK;
    }

    // A helper's change: reported, kept, and announced when it changed something.
    HRESULT HelperSet(Property property, long value)
    {
        const PropertyInfo& info = kProperties[IndexOf(property)];
        long before = Value(property);
        SetValue(property, value);
        long after = Value(property);
        if (onHelperSet_) onHelperSet_(info.name, after);
        if (after != before && info.event != DISPID_UNKNOWN) FireBool(info.event, after != 0);
        return S_OK;
    }

    // The object's identity: nothing but IUnknown, on the object's count.
    class IdentityFace final : public IUnknown {
      public:
        explicit IdentityFace(Object& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
        {
            return owner_.QueryInterface(iid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }

      private:
        Object& owner_;
    };
    // Its IDispatch, a pointer of its own that answers as IWebBrowser2's IDispatch does.
    class DispatchFace final : public IDispatch {
      public:
        explicit DispatchFace(Object& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
        {
            return owner_.QueryInterface(iid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }
        HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
        {
            return owner_.GetTypeInfoCount(count);
        }
        HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override
        {
            return owner_.GetTypeInfo(index, lcid, info);
        }
        HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                                DISPID* ids) override
        {
            return owner_.GetIDsOfNames(iid, names, count, lcid, ids);
        }
        HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                         DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                                         UINT* error) override
        {
            return owner_.Invoke(id, iid, lcid, flags, params, result, info, error);
        }

      private:
        Object& owner_;
    };

    LONG references_ = 0; // as the frame's
    IdentityFace identity_{*this};
    DispatchFace dispatch_{*this};
    HelperSetCallback onHelperSet_;
    bool older_ = false;
    std::array<long, kPropertyCount> values_{};
    std::wstring location_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
    EventPoint events_{*this};
};

Browser::Browser(HelperSetCallback onHelperSet) : object_(new Object(std::move(onHelperSet))) {}

Browser::~Browser()
{
    // A helper that leaked the browser keeps the object alive past us and our callback.
    object_->ForgetCallback();
}

void Browser::SetOlderBrowser(bool older)
{
    object_->SetOlder(older);
}

IUnknown* Browser::Site() const
{
    return object_->Identity();
}

bool Browser::FireBeforeNavigate2(const std::string& url, const std::string& frameName)
{
    ComPtr<IDispatch> target = object_->Dispatch();
    if (!frameName.empty()) target = Frame::Create(object_.Get());

    Variant urlValue(Widen(url));
    Variant flags(0L);
    Variant targetFrame(Widen(frameName));
    Variant postData;
    Variant headers(std::wstring{});
    VARIANT_BOOL cancel = VARIANT_FALSE;
    // IDispatch takes its arguments last first.
    VARIANTARG args[] = {BoolRefArg(&cancel),      headers.ByRef(), postData.ByRef(),
                         targetFrame.ByRef(),      flags.ByRef(),   urlValue.ByRef(),
                         DispatchArg(target.Get())};
    object_->Fire(DISPID_BEFORENAVIGATE2, args, static_cast<UINT>(std::size(args)));
    return cancel != VARIANT_FALSE;
}

void Browser::FireNavigateComplete2(const std::string& url)
{
    Variant urlValue(Widen(url));
    VARIANTARG args[] = {urlValue.ByRef(), DispatchArg(object_->Dispatch())};
    object_->Fire(DISPID_NAVIGATECOMPLETE2, args, static_cast<UINT>(std::size(args)));
}

void Browser::FireDocumentComplete(const std::string& url)
{
    Variant urlValue(Widen(url));
    VARIANTARG args[] = {urlValue.ByRef(), DispatchArg(object_->Dispatch())};
    object_->Fire(DISPID_DOCUMENTCOMPLETE, args, static_cast<UINT>(std::size(args)));
}

bool Browser::FireNewWindow2(bool cancelledBefore)
{
    IDispatch* newWindow = nullptr;
    VARIANT_BOOL cancel = cancelledBefore ? VARIANT_TRUE : VARIANT_FALSE;
    VARIANTARG windowArg;
    VariantInit(&windowArg);
    windowArg.vt = VT_BYREF | VT_DISPATCH;
    windowArg.ppdispVal = &newWindow;
    VARIANTARG args[] = {BoolRefArg(&cancel), windowArg};
    object_->Fire(DISPID_NEWWINDOW2, args, static_cast<UINT>(std::size(args)));
    // A sink that offers a window of its own hands us a reference we do not use.
    if (newWindow) newWindow->Release();
    return cancel != VARIANT_FALSE;
}

bool Browser::FireNewWindow3(const std::string& url, DWORD flags, const std::string& frameUrl,
                             bool cancelledBefore)
{
    IDispatch* newWindow = nullptr;
    VARIANT_BOOL cancel = cancelledBefore ? VARIANT_TRUE : VARIANT_FALSE;
    VARIANTARG windowArg;
    VariantInit(&windowArg);
    windowArg.vt = VT_BYREF | VT_DISPATCH;
    windowArg.ppdispVal = &newWindow;
    VARIANTARG flagsArg;
    VariantInit(&flagsArg);
    flagsArg.vt = VT_I4;
    flagsArg.lVal = static_cast<LONG>(flags);
    // The URL context is the address of the document that opens the window: the page, or
    // the frame inside it.
    Bstr context(frameUrl.empty() ? object_->Location() : Widen(frameUrl));
    Bstr address(Widen(url));
    VARIANTARG args[] = {BstrArg(address.Get()), BstrArg(context.Get()), flagsArg,
                         BoolRefArg(&cancel), windowArg};
    object_->Fire(DISPID_NEWWINDOW3, args, static_cast<UINT>(std::size(args)));
    if (newWindow) newWindow->Release();
    return cancel != VARIANT_FALSE;
}

void Browser::FireBool(DISPID dispid, bool value)
{
    object_->FireBool(dispid, value);
}

void Browser::SetLocation(const std::string& url)
{
    object_->SetLocation(Widen(url));
}

std::string Browser::Location() const
{
    return Narrow(object_->Location());
}

void Browser::SetProperty(Property property, long value)
{
    object_->SetValue(property, value);
}

long Browser::GetProperty(Property property) const
{
    return object_->Value(property);
}

long Browser::AdvisedSinks() const
{
    return object_->Sinks();
}

long Browser::OutsideReferences() const
{
    return object_->References() - 1;
}

} // namespace iehost

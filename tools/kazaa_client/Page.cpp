// The page objects, written against the C layout of the interfaces: the blocker uses a
// handful of their hundreds of methods, so only those are ours. Every other slot holds a
// trap that reports the call and ends the process, so a test sees it at once.
#define CINTERFACE
#define COBJMACROS
#include "Page.h"

#include <exdisp.h>
#include <mshtml.h>
#include <oleacc.h>
#include <servprov.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "Report.h"

namespace standin {

namespace {

struct Document {
    IHTMLDocument2 iface;
    Page* page;
};
struct Window {
    IHTMLWindow2 iface;
    IServiceProvider services;
    Page* page;
};
struct Browser {
    IWebBrowser2 iface;
    Page* page;
};
struct Body {
    IHTMLElement iface;
    Page* page;
};

} // namespace

struct Page {
    Document document;
    Window window;
    Browser browser;
    Body body;
    std::string name;
    std::string text;
    HWND display;
    long references = 0;
};

namespace {

std::vector<std::unique_ptr<Page>> pages;

template <typename Object, typename Iface> Object* ObjectOf(Iface* iface, std::size_t offset = 0)
{
    return reinterpret_cast<Object*>(reinterpret_cast<char*>(iface) - offset);
}

ULONG AddRefPage(Page* page)
{
    return static_cast<ULONG>(++page->references);
}
ULONG ReleasePage(Page* page)
{
    return static_cast<ULONG>(--page->references);
}

template <typename Iface> HRESULT Hand(Iface* iface, void** out)
{
    *out = iface;
    iface->lpVtbl->AddRef(iface);
    return S_OK;
}

// Never returns: the caller's arguments are unknown, so the stack cannot be balanced.
template <const char* Name> void STDMETHODCALLTYPE Unexpected()
{
    Report("unexpected", Name);
    ExitProcess(3);
}

template <typename Vtbl> void FillWithTrap(Vtbl& vtbl, void(STDMETHODCALLTYPE* trap)())
{
    static_assert(sizeof(Vtbl) % sizeof(trap) == 0);
    auto* bytes = reinterpret_cast<unsigned char*>(&vtbl);
    for (std::size_t at = 0; at < sizeof(Vtbl); at += sizeof(trap))
        std::memcpy(bytes + at, &trap, sizeof(trap));
}

constexpr char kDocumentName[] = "IHTMLDocument2";
constexpr char kWindowName[] = "IHTMLWindow2";
constexpr char kServicesName[] = "IServiceProvider";
constexpr char kBrowserName[] = "IWebBrowser2";
constexpr char kBodyName[] = "IHTMLElement";

// ---- document -------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE DocumentQueryInterface(IHTMLDocument2* self, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IHTMLDocument) || IsEqualIID(iid, IID_IHTMLDocument2))
        return Hand(self, out);
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE DocumentAddRef(IHTMLDocument2* self)
{
    return AddRefPage(ObjectOf<Document>(self)->page);
}
ULONG STDMETHODCALLTYPE DocumentRelease(IHTMLDocument2* self)
{
    return ReleasePage(ObjectOf<Document>(self)->page);
}
HRESULT STDMETHODCALLTYPE DocumentGetParentWindow(IHTMLDocument2* self, IHTMLWindow2** out)
{
    if (!out) return E_POINTER;
    return Hand(&ObjectOf<Document>(self)->page->window.iface, reinterpret_cast<void**>(out));
}
HRESULT STDMETHODCALLTYPE DocumentGetBody(IHTMLDocument2* self, IHTMLElement** out)
{
    if (!out) return E_POINTER;
    return Hand(&ObjectOf<Document>(self)->page->body.iface, reinterpret_cast<void**>(out));
}

// ---- window and its service provider --------------------------------------------------

HRESULT WindowQuery(Window* window, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IHTMLFramesCollection2) || IsEqualIID(iid, IID_IHTMLWindow2))
        return Hand(&window->iface, out);
    if (IsEqualIID(iid, IID_IServiceProvider)) return Hand(&window->services, out);
    return E_NOINTERFACE;
}
Window* WindowOfServices(IServiceProvider* services)
{
    return ObjectOf<Window>(services, offsetof(Window, services));
}
HRESULT STDMETHODCALLTYPE WindowQueryInterface(IHTMLWindow2* self, REFIID iid, void** out)
{
    return WindowQuery(ObjectOf<Window>(self), iid, out);
}
ULONG STDMETHODCALLTYPE WindowAddRef(IHTMLWindow2* self)
{
    return AddRefPage(ObjectOf<Window>(self)->page);
}
ULONG STDMETHODCALLTYPE WindowRelease(IHTMLWindow2* self)
{
    return ReleasePage(ObjectOf<Window>(self)->page);
}
HRESULT STDMETHODCALLTYPE ServicesQueryInterface(IServiceProvider* self, REFIID iid, void** out)
{
    return WindowQuery(WindowOfServices(self), iid, out);
}
ULONG STDMETHODCALLTYPE ServicesAddRef(IServiceProvider* self)
{
    return AddRefPage(WindowOfServices(self)->page);
}
ULONG STDMETHODCALLTYPE ServicesRelease(IServiceProvider* self)
{
    return ReleasePage(WindowOfServices(self)->page);
}
HRESULT STDMETHODCALLTYPE ServicesQueryService(IServiceProvider* self, REFGUID service, REFIID iid,
                                               void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualGUID(service, IID_IWebBrowserApp)) return E_NOINTERFACE;
    IWebBrowser2* browser = &WindowOfServices(self)->page->browser.iface;
    return browser->lpVtbl->QueryInterface(browser, iid, out);
}

// ---- browser --------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE BrowserQueryInterface(IWebBrowser2* self, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IWebBrowser) || IsEqualIID(iid, IID_IWebBrowserApp) ||
        IsEqualIID(iid, IID_IWebBrowser2))
        return Hand(self, out);
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE BrowserAddRef(IWebBrowser2* self)
{
    return AddRefPage(ObjectOf<Browser>(self)->page);
}
ULONG STDMETHODCALLTYPE BrowserRelease(IWebBrowser2* self)
{
    return ReleasePage(ObjectOf<Browser>(self)->page);
}
HRESULT STDMETHODCALLTYPE BrowserGetDocument(IWebBrowser2* self, IDispatch** out)
{
    if (!out) return E_POINTER;
    return Hand(&ObjectOf<Browser>(self)->page->document.iface, reinterpret_cast<void**>(out));
}

// ---- body -----------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE BodyQueryInterface(IHTMLElement* self, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IHTMLElement))
        return Hand(self, out);
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE BodyAddRef(IHTMLElement* self)
{
    return AddRefPage(ObjectOf<Body>(self)->page);
}
ULONG STDMETHODCALLTYPE BodyRelease(IHTMLElement* self)
{
    return ReleasePage(ObjectOf<Body>(self)->page);
}
HRESULT STDMETHODCALLTYPE BodyPutInnerHtml(IHTMLElement* self, BSTR html)
{
    Page* page = ObjectOf<Body>(self)->page;
    std::string text;
    if (html) {
        int length = WideCharToMultiByte(CP_ACP, 0, html, static_cast<int>(SysStringLen(html)),
                                         nullptr, 0, nullptr, nullptr);
        text.resize(static_cast<std::size_t>(length));
        WideCharToMultiByte(CP_ACP, 0, html, static_cast<int>(SysStringLen(html)), text.data(),
                            length, nullptr, nullptr);
    }
    Report(text.empty() ? "emptied" : "filled", page->name);
    SetBodyText(page, text);
    return S_OK;
}

// ---- the tables -----------------------------------------------------------------------

struct Tables {
    IHTMLDocument2Vtbl document;
    IHTMLWindow2Vtbl window;
    IServiceProviderVtbl services;
    IWebBrowser2Vtbl browser;
    IHTMLElementVtbl body;

    Tables()
    {
        FillWithTrap(document, Unexpected<kDocumentName>);
        document.QueryInterface = DocumentQueryInterface;
        document.AddRef = DocumentAddRef;
        document.Release = DocumentRelease;
        document.get_parentWindow = DocumentGetParentWindow;
        document.get_body = DocumentGetBody;

        FillWithTrap(window, Unexpected<kWindowName>);
        window.QueryInterface = WindowQueryInterface;
        window.AddRef = WindowAddRef;
        window.Release = WindowRelease;

        FillWithTrap(services, Unexpected<kServicesName>);
        services.QueryInterface = ServicesQueryInterface;
        services.AddRef = ServicesAddRef;
        services.Release = ServicesRelease;
        services.QueryService = ServicesQueryService;

        FillWithTrap(browser, Unexpected<kBrowserName>);
        browser.QueryInterface = BrowserQueryInterface;
        browser.AddRef = BrowserAddRef;
        browser.Release = BrowserRelease;
        browser.get_Document = BrowserGetDocument;

        FillWithTrap(body, Unexpected<kBodyName>);
        body.QueryInterface = BodyQueryInterface;
        body.AddRef = BodyAddRef;
        body.Release = BodyRelease;
        body.put_innerHTML = BodyPutInnerHtml;
    }
};

// Not const: the C layout's lpVtbl points to a writable table. Nothing writes it later.
Tables& TheTables()
{
    static Tables tables;
    return tables;
}

} // namespace

Page* NewPage(const std::string& name, const std::string& bodyText, HWND display)
{
    Tables& tables = TheTables();
    auto page = std::make_unique<Page>();
    page->document = {{&tables.document}, page.get()};
    page->window = {{&tables.window}, {&tables.services}, page.get()};
    page->browser = {{&tables.browser}, page.get()};
    page->body = {{&tables.body}, page.get()};
    page->name = name;
    page->text = bodyText;
    page->display = display;
    pages.push_back(std::move(page));
    return pages.back().get();
}

LRESULT AnswerGetObject(Page* page, WPARAM wParam)
{
    return LresultFromObject(IID_IHTMLDocument2, wParam,
                             reinterpret_cast<IUnknown*>(&page->document.iface));
}

std::string BodyText(const Page* page)
{
    return page->text;
}

void SetBodyText(Page* page, const std::string& text)
{
    page->text = text;
    if (page->display) InvalidateRect(page->display, nullptr, TRUE);
}

long OutstandingReferences()
{
    long total = 0;
    for (const auto& page : pages)
        total += page->references;
    return total;
}

} // namespace standin

// Removes the advertising of the Kazaa file-sharing client, from outside its process:
// its browser frames are asked to close, its banner windows are closed and the pages of
// its embedded browsers are emptied.
#include "adblock/KazaaBlocker.h"

#include <mshtml.h>
#include <oleacc.h>
#include <servprov.h>
#include <wrl/client.h>

#include <string_view>

#include "adblock/KazaaMatch.h"
#include "win/Handles.h"
#include "win/Modules.h"

using Microsoft::WRL::ComPtr;

namespace adblock {

namespace {

constexpr char kAccessibilityLibrary[] = "Oleacc.dll";
constexpr char kObjectFromLresult[] = "ObjectFromLresult";
const char* objectFromLresultName = kObjectFromLresult;

constexpr UINT kGetObjectTimeoutMs = 1000;
// Every request to the client waits at most this long: a client whose thread stopped
// answering must not stop ours.
constexpr UINT kCloseTimeoutMs = 1000;

void SendClose(HWND wnd, UINT msg, WPARAM wp)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(wnd, msg, wp, 0, SMTO_ABORTIFHUNG, kCloseTimeoutMs, &ignored);
}

// A class name read and lower-cased; empty when nothing was read.
std::string LoweredClassName(HWND wnd)
{
    char name[kClassBufferChars] = {};
    int length = GetClassNameA(wnd, name, kClassBufferChars);
    if (length <= 0) return {};
    return LowerAscii(std::string_view(name, static_cast<std::size_t>(length)));
}

// A call that reported success but gave no interface is a failure all the same.
template <typename T> HRESULT Got(HRESULT hr, const ComPtr<T>& result)
{
    if (FAILED(hr)) return hr;
    return result ? S_OK : E_NOINTERFACE;
}

} // namespace

void SetObjectFromLresultNameForTests(const char* name)
{
    objectFromLresultName = name ? name : kObjectFromLresult;
}

BOOL CALLBACK FindKazaaWindowProc(HWND wnd, LPARAM lParam)
{
    auto* kazaaWnd = reinterpret_cast<HWND*>(lParam);
    if (!kazaaWnd) return FALSE;
    char title[kTitleBufferChars] = {};
    int copied = GetWindowTextA(wnd, title, kTitleBufferChars);
    if (copied <= 0 || copied >= kTitleBufferChars) return TRUE;
    if (!IsKazaaTitle(std::string_view(title, static_cast<std::size_t>(copied)))) return TRUE;
    // The user's own browser or folder window showing something called "Kazaa".
    try {
        if (IsUsersBrowsingWindowClass(LoweredClassName(wnd))) return TRUE;
    } catch (...) {
        return TRUE; // no exception crosses the enumeration
    }
    *kazaaWnd = wnd;
    return FALSE;
}

BOOL CALLBACK CloseKazaaBrowsersProc(HWND wnd, LPARAM lParam)
{
    try {
        std::string name = LoweredClassName(wnd);
        if (name.empty() || !IsBrowserFrameClass(name)) return TRUE;
        DWORD pid = 0;
        if (GetWindowThreadProcessId(wnd, &pid) && pid == static_cast<DWORD>(lParam))
            SendClose(wnd, WM_SYSCOMMAND, SC_CLOSE);
    } catch (...) {
        // One window's trouble must not stop the others being visited.
    }
    return TRUE;
}

BOOL CALLBACK ClearKazaaAdsProc(HWND wnd, LPARAM)
{
    try {
        std::string name = LoweredClassName(wnd);
        if (name.empty()) return TRUE;
        switch (ClassifyChildClass(name)) {
        case ChildAction::EmptyPage:
            ClearEmbeddedPage(wnd);
            break;
        case ChildAction::Close:
            SendClose(wnd, WM_CLOSE, 0);
            break;
        case ChildAction::Leave:
            break;
        }
    } catch (...) {
        // As above: the enumeration goes on with the next window.
    }
    return TRUE;
}

HRESULT GetWebBrowserFromWnd(HWND wnd, IWebBrowser2** browser)
{
    if (!browser) return E_POINTER;
    *browser = nullptr;

    // Loaded for this call only; declared first so it is freed after every interface.
    win::Module oleacc(win::LoadSystemLibrary(kAccessibilityLibrary));
    auto objectFromLresult =
        win::ProcAddress<LPFNOBJECTFROMLRESULT>(oleacc.get(), objectFromLresultName);
    if (!objectFromLresult) return S_FALSE;

    UINT getObject = RegisterWindowMessageA("WM_HTML_GETOBJECT");
    DWORD_PTR answer = 0;
    SetLastError(ERROR_SUCCESS);
    if (!getObject || !SendMessageTimeoutA(wnd, getObject, 0, 0, SMTO_ABORTIFHUNG,
                                           kGetObjectTimeoutMs, &answer)) {
        // A time-out may leave no error code: it must still read as a failure.
        DWORD error = GetLastError();
        return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
    }

    ComPtr<IHTMLDocument2> document;
    HRESULT hr = Got(objectFromLresult(static_cast<LRESULT>(answer), __uuidof(IHTMLDocument2), 0,
                                       reinterpret_cast<void**>(document.GetAddressOf())),
                     document);
    if (FAILED(hr)) return hr;

    ComPtr<IHTMLWindow2> window;
    hr = Got(document->get_parentWindow(window.GetAddressOf()), window);
    if (FAILED(hr)) return hr;

    ComPtr<IServiceProvider> services;
    hr = Got(window.As(&services), services);
    if (FAILED(hr)) return hr;

    ComPtr<IWebBrowser2> found;
    hr = Got(services->QueryService(__uuidof(IWebBrowserApp), __uuidof(IWebBrowser2),
                                    reinterpret_cast<void**>(found.GetAddressOf())),
             found);
    if (FAILED(hr)) return hr;

    *browser = found.Detach();
    return S_OK;
}

HRESULT ClearEmbeddedPage(HWND wnd)
{
    ComPtr<IWebBrowser2> browser;
    HRESULT hr = GetWebBrowserFromWnd(wnd, browser.GetAddressOf());
    if (hr != S_OK) return hr;

    ComPtr<IDispatch> shown;
    hr = Got(browser->get_Document(shown.GetAddressOf()), shown);
    if (FAILED(hr)) return hr;

    ComPtr<IHTMLDocument2> document;
    hr = Got(shown.As(&document), document);
    if (FAILED(hr)) return hr;

    ComPtr<IHTMLElement> body;
    hr = Got(document->get_body(body.GetAddressOf()), body);
    if (FAILED(hr)) return hr;

    // A null BSTR is the empty text.
    return body->put_innerHTML(nullptr);
}

} // namespace adblock

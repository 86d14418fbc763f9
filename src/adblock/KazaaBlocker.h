#pragma once
// The file-sharing client ad blocker's enumeration callbacks and its bridge from an
// embedded browser's display window to the browser. TfrmMain::tmrKazaaTimer drives them.
#include <exdisp.h>
#include <windows.h>

namespace adblock {

// EnumWindows: lParam is the address of the HWND that receives the client's main window.
BOOL CALLBACK FindKazaaWindowProc(HWND wnd, LPARAM lParam);
// EnumWindows: lParam is the client's process identifier.
BOOL CALLBACK CloseKazaaBrowsersProc(HWND wnd, LPARAM lParam);
// EnumChildWindows over the client's main window: lParam is not read.
BOOL CALLBACK ClearKazaaAdsProc(HWND wnd, LPARAM lParam);

// From an embedded browser's display window to the browser that owns it: S_OK with the
// browser; S_FALSE when the accessibility library offers no ObjectFromLresult; otherwise
// the failing step's code. Without S_OK *browser is null.
HRESULT GetWebBrowserFromWnd(HWND wnd, IWebBrowser2** browser);

// Empties the body of the page an embedded browser's display window shows. S_OK when the
// body took the empty text; otherwise the result of the step that stopped it.
HRESULT ClearEmbeddedPage(HWND wnd);

// Tests name an entry point the library lacks; nullptr restores "ObjectFromLresult".
void SetObjectFromLresultNameForTests(const char* name);

} // namespace adblock

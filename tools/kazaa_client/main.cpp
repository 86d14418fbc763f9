// KAZAACLIENT.EXE: a stand-in for the Kazaa file-sharing client, for tests and demos.
//
//   KAZAACLIENT.EXE [--title TEXT] [--report FILE] [--mute-browser]
//
// Its main window (title "KaZaA stand-in client" unless --title says otherwise) holds
// banner and GIF windows at several depths, windows that are not ads, and an embedded
// browser display window ("Internet Explorer_Server") showing a page of our own. Beside
// it run a browser frame ("IEFrame") and a stray top-level display window. Everything
// done to them is appended to FILE (standard output without --report), one line each:
//
//   <tick> ready <main window handle>     <tick> getobject <page>
//   <tick> syscommand-close <class>       <tick> emptied <page>
//   <tick> closed <class>                 <tick> unexpected <interface>
//
// --mute-browser adds a second display window whose thread stops answering on the first
// "WM_HTML_GETOBJECT" it gets. Messages a test may send to the main window:
// WM_APP + 1 brings every ad back; WM_APP + 2 returns the references others hold on
// the pages' objects.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "Page.h"
#include "Report.h"

using standin::Report;

namespace {

constexpr UINT WM_REOPEN_ADS = WM_APP + 1;
constexpr UINT WM_QUERY_REFERENCES = WM_APP + 2;

constexpr char kMainClass[] = "KazaaStandInMain";
constexpr char kDisplayClass[] = "Internet Explorer_Server";
constexpr char kFrameClass[] = "IEFrame";
constexpr char kAdHtml[] = "<b>Sponsored:</b> download faster with PowerBoost 3000!";

// The main window's descendants: banner and GIF windows in varied case and position at
// three depths, near misses, a browser host and ordinary controls. Each entry names its
// class and its parent's class (empty: the main window).
struct ChildSpec {
    const char* className;
    const char* parentClass;
    int x, y, w, h;
};
const ChildSpec kChildren[] = {
    {"AdBanner", "", 8, 8, 456, 40},          // depth 1, at the end
    {"Shell Embedding", "", 8, 56, 300, 150}, // hosts the browser
    {"Shell DocObject View", "Shell Embedding", 0, 0, 300, 150},
    {"KazaaSidePanel", "", 316, 56, 148, 200},
    {"BANNERVIEW", "KazaaSidePanel", 4, 4, 140, 40}, // depth 2, upper case
    {"KazaaPanelInner", "KazaaSidePanel", 4, 50, 140, 146},
    {"xAnimGiFx", "KazaaPanelInner", 4, 4, 132, 30},   // depth 3, in the middle
    {"gifPlayer", "KazaaPanelInner", 4, 38, 132, 30},  // depth 3, at the start
    {"BanerStrip", "KazaaPanelInner", 4, 72, 132, 30}, // near misses: left alone
    {"GI_F", "KazaaPanelInner", 4, 106, 132, 30},
    {"Button", "", 8, 214, 80, 24}, // not ads
    {"Edit", "", 96, 214, 212, 24},
};
constexpr char kDisplayParent[] = "Shell DocObject View";

struct State {
    std::string title = "KaZaA stand-in client";
    bool muteBrowser = false;
    HWND main = nullptr;
    std::vector<HWND> children; // by kChildren's order
    HWND display = nullptr;
    HWND frame = nullptr;
    HWND strayDisplay = nullptr;
    standin::Page* page = nullptr;
    // The silent display window and its thread.
    HANDLE release = nullptr;
    HANDLE muteThread = nullptr;
    bool ending = false;
} state;

UINT GetObjectMessage()
{
    static const UINT message = RegisterWindowMessageA("WM_HTML_GETOBJECT");
    return message;
}

std::string ClassOf(HWND wnd)
{
    char name[256] = {};
    GetClassNameA(wnd, name, sizeof name);
    return name;
}

void PaintText(HWND wnd, const std::string& text, COLORREF back)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd, &ps);
    RECT r;
    GetClientRect(wnd, &r);
    HBRUSH brush = CreateSolidBrush(back);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    SetBkMode(dc, TRANSPARENT);
    InflateRect(&r, -4, -4);
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_WORDBREAK);
    EndPaint(wnd, &ps);
}

// Every window of ours reports its end, unless the whole client is ending.
void ReportClosed(HWND wnd)
{
    if (!state.ending) Report("closed", ClassOf(wnd));
}

// Close requests and closes of an ad or display window are reported; the rest is default.
LRESULT ReportingDefProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_SYSCOMMAND && (wp & 0xFFF0) == SC_CLOSE) Report("syscommand-close", ClassOf(wnd));
    if (msg == WM_DESTROY) ReportClosed(wnd);
    return DefWindowProcA(wnd, msg, wp, lp);
}

LRESULT CALLBACK AdProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_PAINT) {
        PaintText(wnd, ClassOf(wnd), RGB(255, 230, 150));
        return 0;
    }
    return ReportingDefProc(wnd, msg, wp, lp);
}

LRESULT CALLBACK DisplayProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* page = reinterpret_cast<standin::Page*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (msg == GetObjectMessage()) {
        if (wnd == state.strayDisplay) return 0;
        if (!page) {
            Report("getobject", "silent");
            // A client that hangs here: the thread answers nothing until the end.
            WaitForSingleObject(state.release, INFINITE);
            return 0;
        }
        Report("getobject", "page");
        return standin::AnswerGetObject(page, wp);
    }
    if (msg == WM_PAINT) {
        PaintText(wnd, page ? standin::BodyText(page) : std::string(), RGB(255, 255, 255));
        return 0;
    }
    return ReportingDefProc(wnd, msg, wp, lp);
}

HWND ChildOfClass(const char* className)
{
    for (size_t i = 0; i < std::size(kChildren); ++i)
        if (std::strcmp(kChildren[i].className, className) == 0) return state.children[i];
    return state.main;
}

// Brings back whatever was closed, and the page's text.
void OpenAds()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    state.children.resize(std::size(kChildren), nullptr);
    for (size_t i = 0; i < std::size(kChildren); ++i) {
        const ChildSpec& c = kChildren[i];
        if (IsWindow(state.children[i])) continue;
        HWND parent = *c.parentClass ? ChildOfClass(c.parentClass) : state.main;
        if (!IsWindow(parent)) continue;
        state.children[i] = CreateWindowExA(WS_EX_NOPARENTNOTIFY, c.className, c.className,
                                            WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_BORDER,
                                            c.x, c.y, c.w, c.h, parent, nullptr, instance, nullptr);
    }
    HWND host = ChildOfClass(kDisplayParent);
    if (!IsWindow(state.display) && IsWindow(host)) {
        state.display =
            CreateWindowExA(WS_EX_NOPARENTNOTIFY, kDisplayClass, "", WS_CHILD | WS_VISIBLE, 0, 0,
                            300, 150, host, nullptr, instance, nullptr);
        if (!state.page) state.page = standin::NewPage("page", kAdHtml, state.display);
        SetWindowLongPtrA(state.display, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.page));
    }
    if (state.page) standin::SetBodyText(state.page, kAdHtml);
    if (!IsWindow(state.frame))
        state.frame = CreateWindowExA(0, kFrameClass, "Sponsored - Microsoft Internet Explorer",
                                      WS_OVERLAPPEDWINDOW | WS_VISIBLE, 520, 40, 320, 200, nullptr,
                                      nullptr, instance, nullptr);
    if (!IsWindow(state.strayDisplay))
        state.strayDisplay = CreateWindowExA(0, kDisplayClass, "", WS_POPUP, 0, 0, 10, 10, nullptr,
                                             nullptr, instance, nullptr);
}

DWORD WINAPI MuteThread(LPVOID)
{
    HWND host = ChildOfClass("Shell Embedding");
    HWND silent = CreateWindowExA(WS_EX_NOPARENTNOTIFY, kDisplayClass, "", WS_CHILD | WS_VISIBLE, 0,
                                  100, 300, 50, host, nullptr, GetModuleHandleA(nullptr), nullptr);
    MSG msg;
    while (silent && GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    if (silent) DestroyWindow(silent);
    return 0;
}

void EndMuteThread()
{
    if (!state.muteThread) return;
    SetEvent(state.release);
    PostThreadMessageA(GetThreadId(state.muteThread), WM_QUIT, 0, 0);
    // Its window is our child: keep answering while it goes.
    while (MsgWaitForMultipleObjects(1, &state.muteThread, FALSE, 5000, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(state.muteThread);
    state.muteThread = nullptr;
}

LRESULT CALLBACK MainProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_REOPEN_ADS:
        OpenAds();
        return 0;
    case WM_QUERY_REFERENCES:
        return standin::OutstandingReferences();
    case WM_PAINT:
        PaintText(wnd, "", GetSysColor(COLOR_BTNFACE));
        return 0;
    case WM_CLOSE:
        state.ending = true;
        EndMuteThread();
        DestroyWindow(state.frame);
        DestroyWindow(state.strayDisplay);
        DestroyWindow(wnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(wnd, msg, wp, lp);
}

void RegisterClasses()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    auto add = [&](const char* name, WNDPROC proc) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.lpszClassName = name;
        RegisterClassA(&wc);
    };
    add(kMainClass, MainProc);
    add(kDisplayClass, DisplayProc);
    add(kFrameClass, AdProc);
    for (const ChildSpec& c : kChildren)
        if (std::strcmp(c.className, "Button") != 0 && std::strcmp(c.className, "Edit") != 0)
            add(c.className, AdProc);
}

} // namespace

int main(int argc, char** argv)
{
    std::string reportPath;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--title" && i + 1 < argc)
            state.title = argv[++i];
        else if (arg == "--report" && i + 1 < argc)
            reportPath = argv[++i];
        else if (arg == "--mute-browser")
            state.muteBrowser = true;
    }
    standin::OpenReport(reportPath);
    // The pages' objects are called from other processes through this thread's apartment.
    if (FAILED(CoInitialize(nullptr))) return 1;

    RegisterClasses();
    state.main = CreateWindowExA(0, kMainClass, state.title.c_str(),
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 40, 40, 480,
                                 320, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!state.main) return 1;
    OpenAds();
    if (state.muteBrowser) {
        state.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        state.muteThread = CreateThread(nullptr, 0, MuteThread, nullptr, 0, nullptr);
    }
    Report("ready", std::to_string(reinterpret_cast<UINT_PTR>(state.main)));

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    CoUninitialize();
    return 0;
}

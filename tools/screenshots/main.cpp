// SHOTS.EXE: takes the README's and the help file's pictures of a running Quellor, driving
// it as a user would (the tray menu by keyboard, the rule list by double-click, an entry of
// the History Log by right click) and reading the screen. Run by scripts/screenshots.sh
// (make screenshots).
//
//   SHOTS.EXE rules FILE      writes a few realistic rules to the rule file FILE
//   SHOTS.EXE capture FOLDER  writes tray-menu.ppm, one .ppm per page and rule-editor.ppm
//
// Pictures are binary PPM (P6); the script turns them into PNG. Exit code 0, else 1 with
// a line on standard error naming the step that failed.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "rules/RuleRecord.h"

namespace {

// The tray icon's callback message, as the program registers its icon with it.
constexpr UINT kTrayMessage = WM_USER + 1234;

bool Fail(const std::string& what)
{
    std::fprintf(stderr, "SHOTS.EXE: %s\n", what.c_str());
    return false;
}

bool WaitFor(const std::function<bool()>& condition, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > ms) return false;
        Sleep(50);
    }
    return true;
}

HWND FindVisible(const char* className, const char* caption, DWORD ms)
{
    HWND found = nullptr;
    WaitFor(
        [&] {
            found = FindWindowA(className, caption);
            return found && IsWindowVisible(found);
        },
        ms);
    return found && IsWindowVisible(found) ? found : nullptr;
}

struct Search {
    const char* className;
    HWND found;
};

BOOL CALLBACK FindClass(HWND child, LPARAM data)
{
    auto* s = reinterpret_cast<Search*>(data);
    char name[64] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, s->className) != 0 || !IsWindowVisible(child)) return TRUE;
    s->found = child;
    return FALSE;
}

// The first visible window of the class anywhere below the parent.
HWND Descendant(HWND parent, const char* className)
{
    Search search{className, nullptr};
    EnumChildWindows(parent, FindClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void Key(WORD vk)
{
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = vk;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
    Sleep(120);
}

void DoubleClick(POINT at)
{
    SetCursorPos(at.x, at.y);
    Sleep(100);
    INPUT input[4]{};
    for (INPUT& i : input)
        i.type = INPUT_MOUSE;
    input[0].mi.dwFlags = input[2].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = input[3].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(4, input, sizeof(INPUT));
}

void RightClick(POINT at)
{
    SetCursorPos(at.x, at.y);
    Sleep(100);
    INPUT input[2]{};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
    SendInput(2, input, sizeof(INPUT));
}

// The screen's pixels in the area, as a PPM file.
bool Capture(RECT area, const std::string& path)
{
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&area, &area, &screen);
    int w = area.right - area.left, h = area.bottom - area.top;
    if (w <= 0 || h <= 0) return Fail("nothing to capture for " + path);
    std::string data = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (DWORD pixel : testsupport::ScreenPixels(area)) {
        data += static_cast<char>(pixel >> 16 & 0xFF);
        data += static_cast<char>(pixel >> 8 & 0xFF);
        data += static_cast<char>(pixel & 0xFF);
    }
    std::ofstream out(path, std::ios::binary);
    out << data;
    return out.good() || Fail("cannot write " + path);
}

bool CaptureWindow(HWND window, const std::string& path)
{
    RECT r{};
    GetWindowRect(window, &r);
    return Capture(r, path);
}

HWND OpenTrayMenu(HWND main)
{
    // Where a user's pointer would be: on the icon, at the taskbar's right end.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 30, GetSystemMetrics(SM_CYSCREEN) - 12);
    PostMessageA(main, kTrayMessage, 0, WM_RBUTTONUP);
    return FindVisible("#32768", nullptr, 5000);
}

bool WriteRules(const std::string& path)
{
    const std::pair<const char*, int> rules[] = {
        {"www.mybank.example", rules::rkAllowWhileVisiting},
        {"http://www.news.example/gallery", rules::rkAllowStartsWith},
        {"http://webmail.example.org/compose", rules::rkAllowStartsWith},
        {"www.freegames.example", rules::rkKillWhileVisiting},
        {"http://ads.example.com/", rules::rkKillStartsWith},
        {"http://popups.example.net/", rules::rkKillStartsWith},
    };
    std::ofstream out(path, std::ios::binary);
    for (const auto& [url, kind] : rules) {
        rules::TRuleRecord record = rules::EncodeRule(url, kind);
        out.write(reinterpret_cast<const char*>(&record), sizeof record);
    }
    return out.good() || Fail("cannot write " + path);
}

bool CaptureAll(const std::string& folder)
{
    HWND main = FindWindowA("TfrmMain", "Quellor");
    if (!WaitFor([&] { return (main = FindWindowA("TfrmMain", "Quellor")) != nullptr; }, 15000))
        return Fail("Quellor is not running");
    HWND tab = Descendant(main, "SysTabControl32");

    // Each page from the tray menu, as a user opens it: Down to the item, then Enter.
    struct Page {
        const char* file;
        int downs, tab;
    };
    const Page pages[] = {{"default-behaviour", 1, 0},
                          {"rules-engine", 2, 1},
                          {"history-log", 3, 2},
                          {"about", 4, 3}};
    bool first = true;
    for (const Page& page : pages) {
        HWND menu = OpenTrayMenu(main);
        if (!menu) return Fail("the tray menu did not open");
        Sleep(400);
        if (first) {
            RECT r{};
            GetWindowRect(menu, &r);
            // The menu with the corner of the taskbar it opened from.
            RECT area{r.left - 12, r.top - 12, GetSystemMetrics(SM_CXSCREEN),
                      GetSystemMetrics(SM_CYSCREEN)};
            if (!Capture(area, folder + "\\tray-menu.ppm")) return false;
            first = false;
        }
        for (int i = 0; i < page.downs; ++i)
            Key(VK_DOWN);
        Key(VK_RETURN);
        if (!WaitFor(
                [&] {
                    return IsWindowVisible(main) &&
                           (!tab || SendMessageA(tab, TCM_GETCURSEL, 0, 0) == page.tab);
                },
                5000))
            return Fail(std::string("the page did not open: ") + page.file);
        Sleep(1200); // the history page fills after it is drawn
        if (page.tab == 2) {
            // The page with the menu of its fourth entry, opened by a right click on it.
            HWND list = Descendant(main, "SysListView32");
            HWND header = list ? Descendant(list, "SysHeader32") : nullptr;
            if (!list || !header) return Fail("no history list");
            RECT r{}, h{};
            GetWindowRect(list, &r);
            GetWindowRect(header, &h);
            RightClick({r.left + 150, h.bottom + 56});
            HWND menu = FindVisible("#32768", nullptr, 5000);
            if (!menu) return Fail("the History Log's menu did not open");
            Sleep(400);
            RECT window{}, shown{}, area{};
            GetWindowRect(main, &window);
            GetWindowRect(menu, &shown);
            UnionRect(&area, &window, &shown);
            if (!Capture(area, folder + "\\" + page.file + ".ppm")) return false;
            Key(VK_ESCAPE);
            if (!WaitFor([&] { return !IsWindowVisible(menu); }, 3000))
                return Fail("the History Log's menu did not close");
            continue;
        }
        if (!CaptureWindow(main, folder + "\\" + page.file + ".ppm")) return false;

        if (page.tab == 1) {
            // A double-click on the second rule opens it in the editor.
            HWND list = Descendant(main, "SysListView32");
            HWND header = list ? Descendant(list, "SysHeader32") : nullptr;
            if (!list || !header) return Fail("no rule list");
            RECT r{}, h{};
            GetWindowRect(list, &r);
            GetWindowRect(header, &h);
            DoubleClick({r.left + 60, h.bottom + 24});
            HWND editor = FindVisible("TfrmEditRule", nullptr, 5000);
            if (!editor) return Fail("the rule editor did not open");
            Sleep(600);
            if (!CaptureWindow(editor, folder + "\\rule-editor.ppm")) return false;
            Key(VK_ESCAPE);
            if (!WaitFor([&] { return !IsWindowVisible(editor) || !IsWindow(editor); }, 3000)) {
                PostMessageA(editor, WM_CLOSE, 0, 0);
                Sleep(500);
            }
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "rules") return WriteRules(argv[2]) ? 0 : 1;
    if (argc == 3 && std::string(argv[1]) == "capture") return CaptureAll(argv[2]) ? 0 : 1;
    std::fprintf(stderr, "usage: SHOTS.EXE rules FILE | capture FOLDER\n");
    return 1;
}

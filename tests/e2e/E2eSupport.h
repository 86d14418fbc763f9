#pragma once
// End-to-end tests look at QUELLOR.EXE only from outside: a copy of the staged program
// folder, the process, its windows, the registry, the files and the shell's tray.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include <string>
#include <vector>

#include "Robot.h"
#include "TestSupport.h"

namespace e2e {

// Copies the staged program folder's files (or the named ones) into a fresh folder.
inline std::string FreshProgramFolder(const std::string& hint,
                                      const std::vector<std::string>& files = {"QUELLOR.EXE"},
                                      const std::string& exeName = "QUELLOR.EXE")
{
    std::string folder = testsupport::FreshFolder(hint);
    for (const std::string& file : files)
        testsupport::CopyFileOrFail(testsupport::StageDir() + file,
                                    folder + (file == "QUELLOR.EXE" ? exeName : file));
    return folder;
}

// Runs the stand-in browser (IEHOST_EXE, or IEHOST64_EXE) on a script kept in the folder
// as NAME.txt; what it printed, without carriage returns.
inline std::string Browse(const std::string& browser, const std::string& folder,
                          const std::string& name, const std::string& script)
{
    const std::string path = folder + name;
    testsupport::WriteFileBytes(path + ".txt", script);
    robot::Process process =
        robot::Process::Start(testsupport::HostPath(browser),
                              "--script \"" + path + ".txt\" --out \"" + path + ".out\"", folder);
    DWORD code = 99;
    EXPECT_TRUE(process.WaitExit(60000, &code)) << name;
    EXPECT_EQ(code, 0u) << name;
    std::string out = testsupport::ReadFileBytes(path + ".out");
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    return out;
}

// How much of the taskbar's right end the tray icons cover, read off the screen: Wine's
// tray draws each icon there, so the width grows by one slot for each icon shown.
inline int TrayIconsWidth()
{
    HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    if (!tray || !IsWindowVisible(tray)) return 0;
    RECT r{};
    GetWindowRect(tray, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 4) return 0;
    std::vector<DWORD> pixels = testsupport::ScreenPixels(r);
    DWORD face = pixels[(h / 2) * w + w / 2]; // the empty middle of the taskbar
    int leftmost = w, gap = 0;
    for (int x = w - 1; x >= w / 2 && gap < 48; --x) {
        bool drawn = false;
        for (int y = 3; y < h - 3 && !drawn; ++y)
            drawn = pixels[y * w + x] != face;
        if (drawn) {
            leftmost = x;
            gap = 0;
        } else {
            ++gap;
        }
    }
    return w - leftmost;
}

// The user's own data folders from Windows Vista on, named as the shell names them:
// ...\AppData\Local\Tandrel\Quellor\ for the rules, its LocalLow sibling for the log.
inline std::string UserRuleFolder()
{
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return std::string(path) + "\\Tandrel\\Quellor\\";
}
inline std::string UserLogFolder()
{
    std::string local = UserRuleFolder();
    size_t appData = local.rfind("\\Local\\");
    return appData == std::string::npos ? std::string() : local.replace(appData, 7, "\\LocalLow\\");
}

// A folder (its path ending in a backslash) with everything in it, the kept kills' folder
// beside the log included.
inline void DeleteFolderTree(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((folder + name).c_str());
            else if (name != "." && name != "..")
                DeleteFolderTree(folder + name + "\\");
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

// What another test's Quellor left in the user's folders: a test starts from "never run".
inline void ClearUserData()
{
    for (const std::string& folder : {UserRuleFolder(), UserLogFolder()}) {
        if (folder.empty()) continue;
        DeleteFolderTree(folder);
        RemoveDirectoryA(folder.substr(0, folder.size() - 8).c_str()); // ...\Tandrel
    }
}

// A path the running program stored for the browser helper (LogFile, RuleFile).
inline std::string StoredPath(const char* name)
{
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Tandrel\\Quellor", name, RRF_RT_REG_SZ, nullptr,
                     data, &size) != ERROR_SUCCESS)
        return {};
    return data;
}

// Wine's Windows version for one program file name alone (QUELLOR.EXE, or what a test
// renamed it to), taken away again however the test ends.
class WindowsVersionForQuellor {
  public:
    explicit WindowsVersionForQuellor(const char* version, const std::string& exe = "QUELLOR.EXE")
        : key_("Software\\Wine\\AppDefaults\\" + exe)
    {
        HKEY key = nullptr;
        ok_ = RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr) == ERROR_SUCCESS &&
              RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                             static_cast<DWORD>(strlen(version) + 1)) == ERROR_SUCCESS;
        if (key) RegCloseKey(key);
    }
    ~WindowsVersionForQuellor()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS)
            return;
        RegDeleteValueA(key, "Version");
        DWORD subkeys = 0, values = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        // Another test's overrides for the program may live in the same key.
        if (subkeys == 0 && values == 0) RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
    }
    WindowsVersionForQuellor(const WindowsVersionForQuellor&) = delete;
    WindowsVersionForQuellor& operator=(const WindowsVersionForQuellor&) = delete;
    explicit operator bool() const { return ok_; }

  private:
    std::string key_;
    bool ok_ = false;
};

inline bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    return testsupport::PumpUntil(condition, timeoutMs);
}

// A window of the tray program's class and caption in the test's own process: the browser
// helper posts its kill notifications to every such window, so they arrive here too, each
// with its wParam. Messages come while the test pumps (WaitFor).
class KillListener {
  public:
    KillListener()
    {
        message_ = RegisterWindowMessageA("WM_POPUP_KILLED");
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "TfrmMain";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, "TfrmMain", "Quellor", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                  nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~KillListener() { DestroyWindow(window_); }
    KillListener(const KillListener&) = delete;
    KillListener& operator=(const KillListener&) = delete;
    // The wParam of every notification so far.
    const std::vector<WPARAM>& Heard() const { return heard_; }

  private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l)
    {
        auto* self = reinterpret_cast<KillListener*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == self->message_) self->heard_.push_back(w);
        return DefWindowProcA(window, message, w, l);
    }
    UINT message_ = 0;
    HWND window_ = nullptr;
    std::vector<WPARAM> heard_;
};

// A named event of the session, made cleared: the test and IEHOST.EXE meet on it (its
// steps "signal NAME" and "waitfor NAME").
class Meeting {
  public:
    explicit Meeting(const std::string& name)
        : event_(CreateEventA(nullptr, TRUE, FALSE, name.c_str()))
    {
        ResetEvent(event_);
    }
    ~Meeting() { CloseHandle(event_); }
    Meeting(const Meeting&) = delete;
    Meeting& operator=(const Meeting&) = delete;
    void Signal() { SetEvent(event_); }
    // Pumps the test's messages meanwhile.
    bool Wait(DWORD timeoutMs = 60000)
    {
        return WaitFor([&] { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }, timeoutMs);
    }

  private:
    HANDLE event_;
};

} // namespace e2e

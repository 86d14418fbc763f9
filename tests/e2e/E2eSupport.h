#pragma once
// End-to-end tests look at QUELLOR.EXE only from outside: a copy of the staged program
// folder, the process, its windows, the registry, the files and the shell's tray.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

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
        for (int y = 3; y < h - 3 && !drawn; ++y) drawn = pixels[y * w + x] != face;
        if (drawn) {
            leftmost = x;
            gap = 0;
        } else {
            ++gap;
        }
    }
    return w - leftmost;
}

inline bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    return testsupport::PumpUntil(condition, timeoutMs);
}

} // namespace e2e

// Checks the robot against real message boxes of a second process: it starts
// itself again in a child mode that shows them.
#include "Robot.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what)
{
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

std::string Join(const std::vector<std::string>& items)
{
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : ",") + item;
    return "{" + out + "}";
}

std::string Describe(const robot::DialogSeen& d)
{
    return "caption=\"" + d.caption + "\" text=\"" + d.text + "\" icon=" + d.icon +
           " buttons=" + Join(d.buttons) + " clicked=" + d.clicked;
}

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

std::string SelfPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

struct Box {
    const char* caption;
    const char* text;
    UINT flags;
    const char* icon;
    std::vector<std::string> buttons;
};

const std::vector<Box> kFirstBoxes = {
    {"Quellor", "Line one\r\nLine two", MB_OK, "none", {"OK"}},
    {"Confirm", "Delete the selected rule?", MB_YESNO | MB_ICONQUESTION, "question", {"Yes", "No"}},
    {"Quellor", "The rule file could not be read.", MB_OK | MB_ICONSTOP, "stop", {"OK"}},
};

// The first two sit at the same spot: the second must not be read off the first's pixels.
const std::vector<Box> kMoreBoxes = {
    {"Quellor",
     "Close the browser first.",
     MB_OKCANCEL | MB_ICONWARNING,
     "warning",
     {"OK", "Cancel"}},
    {"Quellor", "Close the browser first.", MB_OKCANCEL | MB_ICONSTOP, "stop", {"OK", "Cancel"}},
    {"Quellor",
     "No update found.",
     MB_RETRYCANCEL | MB_ICONINFORMATION,
     "information",
     {"Retry", "Cancel"}},
    {"Setup", "Could not copy.", MB_ABORTRETRYIGNORE, "none", {"Abort", "Retry", "Ignore"}},
};

// The answers come back as one hex digit per box, first box lowest.
int ShowBoxes(const std::vector<Box>& boxes)
{
    int code = 0;
    for (size_t i = 0; i < boxes.size(); ++i)
        code |= MessageBoxA(nullptr, boxes[i].text, boxes[i].caption, boxes[i].flags) << (4 * i);
    return code;
}

// A window that shows up a little late, then waits to be killed (30 s at most).
int Idle()
{
    Sleep(300);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RobotSelfTestIdle";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA(wc.lpszClassName, "Idle", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                              nullptr, wc.hInstance, nullptr);
    SetTimer(hwnd, 1, 30000, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != WM_TIMER)
        DispatchMessageA(&msg);
    return 0;
}

int CwdIsExeFolder()
{
    std::string exe = SelfPath();
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);
    return lstrcmpiA(exe.substr(0, exe.rfind('\\')).c_str(), cwd) == 0 ? 0 : 3;
}

struct RunCase {
    const char* name;
    const char* mode;
    const std::vector<Box>* boxes;
    std::vector<std::string> script;
    std::vector<std::string> clicked;
    DWORD exitCode;
};

void TestAnswersBoxes()
{
    const RunCase cases[] = {
        {"scripted", "--first-boxes", &kFirstBoxes, {"OK", "No", "OK"}, {"OK", "No", "OK"}, 0x171},
        {"missing button, other case, script runs out",
         "--first-boxes",
         &kFirstBoxes,
         {"Maybe", "yes"},
         {"OK", "Yes", "OK"},
         0x161},
        {"no script: OK, else Cancel, else the first",
         "--more-boxes",
         &kMoreBoxes,
         {},
         {"OK", "OK", "Cancel", "Abort"},
         0x3211},
    };
    for (const RunCase& c : cases) {
        std::string name = std::string(c.name) + ": ";
        robot::Process child = robot::Process::Start(SelfPath(), c.mode, "");
        Check(static_cast<bool>(child), name + "child started");
        if (!child) continue;
        robot::Robot robot(child.Pid(), c.script);
        Check(robot.WaitForCount(c.boxes->size(), 30000), name + "all boxes answered");
        DWORD code = 0;
        bool exited = child.WaitExit(30000, &code);
        Check(exited, name + "child ended");
        Check(code == c.exitCode, name + "exit code " + Hex(code) + ", want " + Hex(c.exitCode));

        // Once the target is gone a wait for more gives up at once.
        ULONGLONG start = GetTickCount64();
        Check(!robot.WaitForCount(c.boxes->size() + 1, 20000) && GetTickCount64() - start < 10000,
              name + "no wait past the target's end");

        std::vector<robot::DialogSeen> seen = robot.Seen();
        Check(seen.size() == c.boxes->size(), name + "dialogs seen " + std::to_string(seen.size()));
        for (size_t i = 0; i < seen.size() && i < c.boxes->size(); ++i) {
            const Box& box = (*c.boxes)[i];
            const robot::DialogSeen& d = seen[i];
            Check(d.caption == box.caption && d.text == box.text && d.icon == box.icon &&
                      d.buttons == box.buttons && d.clicked == c.clicked[i],
                  name + "box " + std::to_string(i + 1) + ": " + Describe(d));
        }
    }
}

void TestProcessHelpers()
{
    robot::Process missing = robot::Process::Start("C:\\no such folder\\none.exe", "", "");
    Check(!missing && missing.StartError() != 0, "starting a missing program fails");

    // A copy in a folder with spaces, run there: the path is quoted, workDir is used.
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "robot self test";
    std::string copy = folder + "\\robot copy.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    Check(CopyFileA(SelfPath().c_str(), copy.c_str(), FALSE), "copy made");
    {
        robot::Process p = robot::Process::Start(copy, "--cwd", folder);
        DWORD code = 99;
        Check(p.WaitExit(20000, &code) && code == 0,
              "quoted path and work folder, child says " + std::to_string(code));
    }
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());

    HANDLE watch = nullptr;
    {
        robot::Process idle = robot::Process::Start(SelfPath(), "--idle", "");
        watch = OpenProcess(SYNCHRONIZE, FALSE, idle.Pid());
        Check(robot::FindTopWindow(idle.Pid(), "RobotSelfTestIdle", "Idle", 10000) != nullptr,
              "finds another process's window that appears late");
        const struct {
            DWORD pid;
            const char* cls;
            const char* caption;
            bool found;
        } finds[] = {
            {idle.Pid(), nullptr, "Idle", true},
            {idle.Pid(), "RobotSelfTestIdle", nullptr, true},
            {0, "RobotSelfTestIdle", "Idle", true},
            {idle.Pid(), "RobotSelfTestIdle", "Idl", false},
            {idle.Pid(), "RobotSelfTest", "Idle", false},
            {GetCurrentProcessId(), "RobotSelfTestIdle", nullptr, false},
        };
        for (const auto& f : finds)
            Check((robot::FindTopWindow(f.pid, f.cls, f.caption, 100) != nullptr) == f.found,
                  std::string("FindTopWindow ") + (f.cls ? f.cls : "*") + "/" +
                      (f.caption ? f.caption : "*") + (f.found ? " found" : " not found"));
        Check(!idle.WaitExit(100, nullptr), "idle child still running");
    }
    Check(watch && WaitForSingleObject(watch, 0) == WAIT_OBJECT_0,
          "a Process going out of scope ends its program");
    if (watch) CloseHandle(watch);
}

int g_ticks = 0;

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    ++g_ticks;
}

void TestPump()
{
    UINT_PTR timer = SetTimer(nullptr, 0, 10, Tick);
    robot::Pump(300);
    KillTimer(nullptr, timer);
    Check(g_ticks > 0, "Pump dispatches: a thread timer ticked");

    PostQuitMessage(7);
    robot::Pump(3000);
    MSG msg{};
    Check(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 7,
          "Pump leaves WM_QUIT in the queue");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        if (!std::strcmp(argv[1], "--first-boxes")) return ShowBoxes(kFirstBoxes);
        if (!std::strcmp(argv[1], "--more-boxes")) return ShowBoxes(kMoreBoxes);
        if (!std::strcmp(argv[1], "--idle")) return Idle();
        if (!std::strcmp(argv[1], "--cwd")) return CwdIsExeFolder();
        return 2;
    }
    TestAnswersBoxes();
    TestProcessHelpers();
    TestPump();
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed ? 1 : 0;
}

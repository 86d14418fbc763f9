#include "Robot.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <utility>

namespace robot {
namespace {

constexpr DWORD kPollMs = 50;
// Upper bound for one message sent to the target; a hung target must not stop us.
constexpr UINT kSendTimeoutMs = 1000;
// A dialog is visible before its icon is painted; how long to keep looking.
constexpr DWORD kIconPaintWaitMs = 5000;

std::string ClassOf(HWND hwnd)
{
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

// For another process's window this reads the text the system keeps and sends no
// message, so a busy target cannot block us.
std::string TextOf(HWND hwnd)
{
    std::string text(256, '\0');
    for (;;) {
        int n = GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()));
        if (n < static_cast<int>(text.size()) - 1 || text.size() >= (1u << 20)) {
            text.resize(n > 0 ? n : 0);
            return text;
        }
        text.assign(text.size() * 4, '\0');
    }
}

// "&Yes" -> "Yes"; "&&" is a literal ampersand.
std::string WithoutMnemonic(const std::string& caption)
{
    std::string out;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] != '&') {
            out += caption[i];
        } else if (i + 1 < caption.size() && caption[i + 1] == '&') {
            out += '&';
            ++i;
        }
    }
    return out;
}

bool SameCaption(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsPushButton(HWND hwnd)
{
    LONG type = GetWindowLongA(hwnd, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

struct WindowDc {
    explicit WindowDc(HWND w) : hwnd(w), dc(GetDC(w)) {}
    ~WindowDc()
    {
        if (dc) ReleaseDC(hwnd, dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HWND hwnd;
    HDC dc;
};

// A 32-bit top-down DIB selected into a memory DC.
class Dib32 {
  public:
    Dib32(int width, int height) : width_(width), height_(height)
    {
        dc_ = CreateCompatibleDC(nullptr);
        if (!dc_) return;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap_) return;
        bits_ = static_cast<DWORD*>(bits);
        old_ = SelectObject(dc_, bitmap_);
    }
    ~Dib32()
    {
        if (old_) SelectObject(dc_, old_);
        if (bitmap_) DeleteObject(bitmap_);
        if (dc_) DeleteDC(dc_);
    }
    Dib32(const Dib32&) = delete;
    Dib32& operator=(const Dib32&) = delete;

    bool Ok() const { return bits_ != nullptr && old_ != nullptr; }
    HDC Dc() const { return dc_; }
    void Fill(DWORD colour) { std::fill(bits_, bits_ + width_ * height_, colour); }
    std::vector<DWORD> Pixels() const
    {
        GdiFlush();
        return std::vector<DWORD>(bits_, bits_ + width_ * height_);
    }

  private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    DWORD* bits_ = nullptr;
};

bool CaptureScreen(const RECT& area, std::vector<DWORD>& out)
{
    int w = area.right - area.left, h = area.bottom - area.top;
    Dib32 dib(w, h);
    WindowDc screen(nullptr);
    if (!dib.Ok() || !screen.dc) return false;
    if (!BitBlt(dib.Dc(), 0, 0, w, h, screen.dc, area.left, area.top, SRCCOPY)) return false;
    out = dib.Pixels();
    return true;
}

bool Render(HICON icon, DWORD background, int w, int h, std::vector<DWORD>& out)
{
    Dib32 dib(w, h);
    if (!dib.Ok()) return false;
    dib.Fill(background);
    if (!DrawIconEx(dib.Dc(), 0, 0, icon, w, h, 0, nullptr, DI_NORMAL)) return false;
    out = dib.Pixels();
    return true;
}

// Pixels that differ by more than a little in any channel (room for a display
// with fewer colours than ours).
size_t Differing(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    size_t n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        for (int shift = 0; shift < 24; shift += 8) {
            int d =
                static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF);
            if (std::abs(d) > 24) {
                ++n;
                break;
            }
        }
    }
    return n;
}

struct StandardIcon {
    LPCSTR id;
    const char* name;
};
const StandardIcon kIcons[] = {
    {IDI_HAND, "stop"},
    {IDI_QUESTION, "question"},
    {IDI_EXCLAMATION, "warning"},
    {IDI_ASTERISK, "information"},
};

// One look at the screen: the standard icon whose rendering matches the control's
// pixels nearly exactly and no other comes close, or null.
const char* MatchOnScreen(HWND control)
{
    RECT client{};
    if (!GetClientRect(control, &client)) return nullptr;
    POINT origin{0, 0};
    ClientToScreen(control, &origin);
    int w = client.right, h = client.bottom;
    if (w <= 0 || h <= 0 || w > 256 || h > 256) return nullptr;
    RECT area{origin.x, origin.y, origin.x + w, origin.y + h};
    std::vector<DWORD> shown;
    if (!CaptureScreen(area, shown)) return nullptr;

    // The standard icons leave their corners transparent, so the corner is the
    // control's background.
    const size_t total = shown.size();
    size_t best = total + 1, second = total + 1;
    const char* bestName = nullptr;
    for (const StandardIcon& icon : kIcons) {
        std::vector<DWORD> drawn;
        if (!Render(LoadIcon(nullptr, icon.id), shown[0], w, h, drawn)) return nullptr;
        size_t d = Differing(shown, drawn);
        if (d < best) {
            second = best;
            best = d;
            bestName = icon.name;
        } else if (d < second) {
            second = d;
        }
    }
    // Drawn the same way, the right icon matches all but a few pixels; the question
    // mark and the "i" share their balloon, so the runner-up may be close (7 %).
    if (best * 100 <= total && second >= 4 * best + total / 50) return bestName;
    return nullptr;
}

struct ChildScan {
    HWND dialog = nullptr;
    HWND text = nullptr;
    HWND icon = nullptr;
    std::vector<HWND> buttons;
};

BOOL CALLBACK ScanChild(HWND hwnd, LPARAM param)
{
    auto* scan = reinterpret_cast<ChildScan*>(param);
    try {
        if (GetAncestor(hwnd, GA_PARENT) != scan->dialog) return TRUE;
        std::string cls = ClassOf(hwnd);
        if (SameCaption(cls, "Static")) {
            LONG style = GetWindowLongA(hwnd, GWL_STYLE);
            if ((style & SS_TYPEMASK) == SS_ICON) {
                if (!scan->icon) scan->icon = hwnd;
            } else if ((GetDlgCtrlID(hwnd) & 0xFFFF) == 0xFFFF && !scan->text) {
                scan->text = hwnd;
            }
        } else if (SameCaption(cls, "Button") && IsWindowVisible(hwnd) && IsPushButton(hwnd)) {
            scan->buttons.push_back(hwnd);
        }
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

LONG LeftOf(HWND hwnd)
{
    RECT r{};
    GetWindowRect(hwnd, &r);
    return r.left;
}

ChildScan Scan(HWND dialog, DialogSeen& seen)
{
    ChildScan scan;
    scan.dialog = dialog;
    EnumChildWindows(dialog, ScanChild, reinterpret_cast<LPARAM>(&scan));
    std::stable_sort(scan.buttons.begin(), scan.buttons.end(),
                     [](HWND a, HWND b) { return LeftOf(a) < LeftOf(b); });
    seen.caption = TextOf(dialog);
    seen.text = scan.text ? TextOf(scan.text) : std::string();
    seen.icon = scan.icon ? IconOf(scan.icon) : "none";
    seen.buttons.clear();
    for (HWND b : scan.buttons)
        seen.buttons.push_back(WithoutMnemonic(TextOf(b)));
    return scan;
}

struct DialogSearch {
    DWORD pid = 0;
    std::vector<HWND> found;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM param)
{
    auto* search = reinterpret_cast<DialogSearch*>(param);
    try {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == search->pid && IsWindowVisible(hwnd) && ClassOf(hwnd) == "#32770")
            search->found.push_back(hwnd);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

struct TopSearch {
    DWORD pid = 0;
    const char* className = nullptr;
    const char* caption = nullptr;
    HWND found = nullptr;
};

BOOL CALLBACK FindTop(HWND hwnd, LPARAM param)
{
    auto* search = reinterpret_cast<TopSearch*>(param);
    try {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (search->pid && pid != search->pid) return TRUE;
        if (search->className && ClassOf(hwnd) != search->className) return TRUE;
        if (search->caption && TextOf(hwnd) != search->caption) return TRUE;
        search->found = hwnd;
        return FALSE;
    } catch (...) {
        return FALSE;
    }
}

} // namespace

// The icon control is a Static with SS_ICON. Wine keeps it even when no icon was
// asked for (hidden, or showing no icon), so "none" is told by visibility and a
// null STM_GETICON. Which icon: in our own process, and on Windows where the
// system icons are shared, the handle equals our LoadIcon's. Under Wine each
// process loads its own copies, so the handles never match across processes and
// a foreign HICON cannot be drawn or queried either; there we compare the
// control's pixels on the screen with our own rendering of each standard icon.
std::string IconOf(HWND control)
{
    if (!IsWindowVisible(control)) return "none";
    DWORD_PTR handle = 0;
    if (!SendMessageTimeoutA(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &handle))
        return "unknown";
    if (!handle) return "none";
    for (const StandardIcon& icon : kIcons)
        if (reinterpret_cast<HICON>(handle) == LoadIcon(nullptr, icon.id)) return icon.name;

    // Until the control has painted, the screen may still show whatever was there
    // before, even another box's icon: wait for its update region to empty, then
    // for two looks in a row to agree.
    ULONGLONG deadline = GetTickCount64() + kIconPaintWaitMs;
    const char* previous = nullptr;
    for (;;) {
        const char* name =
            GetUpdateRect(control, nullptr, FALSE) ? nullptr : MatchOnScreen(control);
        if (name && name == previous) return name;
        previous = name;
        if (GetTickCount64() >= deadline || !IsWindow(control)) return "unknown";
        Sleep(kPollMs);
    }
}

DialogSeen ReadDialog(HWND dialog)
{
    DialogSeen seen;
    Scan(dialog, seen);
    return seen;
}

Robot::Robot(DWORD pid, std::vector<std::string> script)
    : pid_(pid), process_(OpenProcess(SYNCHRONIZE, FALSE, pid)), script_(std::move(script)),
      thread_([this] { Run(); })
{
}

Robot::~Robot()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
    if (process_) CloseHandle(process_);
}

std::vector<DialogSeen> Robot::Seen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

bool Robot::WaitForCount(size_t n, DWORD timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return seen_.size() >= n || ended_; });
    return seen_.size() >= n;
}

bool Robot::TargetEnded() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

void Robot::Run() noexcept
{
    try {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            lock.unlock();
            // Looked at before polling: once it is gone, so are its windows.
            bool ended = process_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
            Poll();
            lock.lock();
            if (ended) break;
            changed_.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return stop_; });
        }
        ended_ = true;
    } catch (...) {
        // Out of memory at worst; stop answering, but let waiters return.
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    changed_.notify_all();
}

void Robot::Poll()
{
    for (auto it = answered_.begin(); it != answered_.end();)
        it = IsWindow(*it) ? std::next(it) : answered_.erase(it);

    DialogSearch search;
    search.pid = pid_;
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    // Z-order lists the newest on top; answer in the order they appeared.
    for (auto it = search.found.rbegin(); it != search.found.rend(); ++it)
        if (!answered_.count(*it)) Answer(*it);
}

void Robot::Answer(HWND dialog)
{
    DialogSeen seen;
    ChildScan scan = Scan(dialog, seen);
    std::string wanted = nextStep_ < script_.size() ? script_[nextStep_++] : std::string();

    auto find = [&](const std::string& caption) -> size_t {
        for (size_t i = 0; i < seen.buttons.size(); ++i)
            if (SameCaption(seen.buttons[i], caption)) return i;
        return seen.buttons.size();
    };
    size_t pick = wanted.empty() ? seen.buttons.size() : find(wanted);
    for (const char* fallback : {"OK", "No", "Cancel"})
        if (pick == seen.buttons.size()) pick = find(fallback);
    if (pick == seen.buttons.size() && !seen.buttons.empty()) pick = 0;

    if (pick < seen.buttons.size()) {
        HWND button = scan.buttons[pick];
        seen.clicked = seen.buttons[pick];
        // Posted, not BM_CLICK (unreliable under Wine) and not sent (the handler
        // may run a modal loop of its own).
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button) & 0xFFFF, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    } else {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
    answered_.insert(dialog);

    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(std::move(seen));
    }
    changed_.notify_all();
}

Process Process::Start(const std::string& exePath, const std::string& args,
                       const std::string& workDir, HANDLE token, const char* desktop)
{
    Process p;
    std::string line = "\"" + exePath + "\"";
    if (!args.empty()) line += " " + args;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string desktopName = desktop ? desktop : "";
    if (desktop) startup.lpDesktop = desktopName.data();
    const char* dir = workDir.empty() ? nullptr : workDir.c_str();
    if (!(token ? CreateProcessAsUserA(token, nullptr, buffer.data(), nullptr, nullptr, FALSE, 0,
                                       nullptr, dir, &startup, &p.info_)
                : CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, dir,
                                 &startup, &p.info_))) {
        p.info_ = PROCESS_INFORMATION{};
        p.startError_ = GetLastError();
    }
    return p;
}

Process::Process(Process&& other) noexcept
    : info_(std::exchange(other.info_, PROCESS_INFORMATION{})), startError_(other.startError_)
{
}

Process& Process::operator=(Process&& other) noexcept
{
    if (this != &other) {
        Release();
        info_ = std::exchange(other.info_, PROCESS_INFORMATION{});
        startError_ = other.startError_;
    }
    return *this;
}

Process::~Process()
{
    Release();
}

void Process::Release() noexcept
{
    if (info_.hProcess) {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, 5000);
        }
        CloseHandle(info_.hProcess);
    }
    if (info_.hThread) CloseHandle(info_.hThread);
    info_ = PROCESS_INFORMATION{};
}

bool Process::WaitExit(DWORD ms, DWORD* exitCode)
{
    if (!info_.hProcess || WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) return false;
    if (exitCode && !GetExitCodeProcess(info_.hProcess, exitCode)) return false;
    return true;
}

HWND FindTopWindow(DWORD pid, const char* className, const char* caption, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        TopSearch search;
        search.pid = pid;
        search.className = className;
        search.caption = caption;
        EnumWindows(FindTop, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return nullptr;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(20, deadline - now)));
    }
}

void Pump(DWORD ms)
{
    ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT);
    }
}

} // namespace robot

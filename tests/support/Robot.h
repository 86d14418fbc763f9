// Drives another process's message boxes from the outside, as a user would:
// finds its dialogs, records what they show, clicks a scripted button.
// Also the small process and window helpers the end-to-end tests share.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace robot {

struct DialogSeen {
    std::string caption;
    std::string text;
    std::string icon; // "none", "stop", "question", "warning", "information" or "unknown"
    std::vector<std::string> buttons; // visible push buttons, left to right, '&' removed
    std::string clicked;              // "" when the dialog had no button to click
};

// Answers every visible top-level dialog (class "#32770") of one process, one script
// entry per dialog in the order they appear. Once the script runs out, or when the
// scripted button is missing, it clicks "OK", else "No", else "Cancel", else the first
// button; `clicked` tells which. Nothing here waits without a bound: cross-process
// reads cannot hang on a stuck target, and the polling thread stops in the destructor.
class Robot {
  public:
    Robot(DWORD pid, std::vector<std::string> script);
    ~Robot();
    Robot(const Robot&) = delete;
    Robot& operator=(const Robot&) = delete;

    std::vector<DialogSeen> Seen() const;
    // True once at least n dialogs were answered. Returns false early when the
    // target process has ended with fewer.
    bool WaitForCount(size_t n, DWORD timeoutMs) const;
    bool TargetEnded() const;

  private:
    void Run() noexcept;
    void Poll();
    void Answer(HWND dialog);

    DWORD pid_;
    HANDLE process_; // SYNCHRONIZE only; null when the pid could not be opened
    std::vector<std::string> script_;
    size_t nextStep_ = 0;
    std::set<HWND> answered_; // polling thread only

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<DialogSeen> seen_;
    bool stop_ = false;
    bool ended_ = false;
    std::thread thread_;
};

// Reads one dialog as the robot records it, without clicking anything.
DialogSeen ReadDialog(HWND dialog);

// Which standard icon a message box's icon control shows; see Robot.cpp for how.
std::string IconOf(HWND iconControl);

struct Process {
    // Quotes exePath, so paths with spaces work. An empty workDir keeps ours. With a
    // token, as its user and groups (CreateProcessAsUserA); with a desktop, on that one.
    // On failure the result is empty (false) and StartError() has GetLastError().
    static Process Start(const std::string& exePath, const std::string& args,
                         const std::string& workDir, HANDLE token = nullptr,
                         const char* desktop = nullptr);

    Process() = default;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    // A test that fails early must not leave its program running: whoever runs
    // the tests would wait on it.
    ~Process();

    explicit operator bool() const { return info_.hProcess != nullptr; }
    DWORD Pid() const { return info_.dwProcessId; }
    HANDLE Handle() const { return info_.hProcess; }
    DWORD StartError() const { return startError_; }

    // True when the process ended within ms; exitCode may be null.
    bool WaitExit(DWORD ms, DWORD* exitCode);

  private:
    void Release() noexcept;

    PROCESS_INFORMATION info_{};
    DWORD startError_ = 0;
};

// First top-level window (visible or not) of process pid (0: any process) whose
// class and caption match exactly; null arguments match anything. Polls until
// timeoutMs has passed; null if none appeared.
HWND FindTopWindow(DWORD pid, const char* className, const char* caption, DWORD timeoutMs);

// Dispatches this thread's messages until ms have passed. A WM_QUIT is put back
// and ends the pump early.
void Pump(DWORD ms);

} // namespace robot

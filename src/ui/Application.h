#pragma once
// The application object: title, help, the hidden application window that owns the
// main form, the message loop and the top-level error handler.
#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "win/Error.h"
#include "win/Handles.h"

namespace ui {

class TForm;

class TApplication {
public:
    std::string Title;
    std::string HelpFile;
    // The help handler: returns true when the request was handled; CallHelp false keeps
    // the standard help engine out of it.
    std::function<bool(WORD command, LONG data, bool& callHelp)> OnHelp;
    bool ShowMainForm = true;
    // What the process ends with: a part run elevated tells the one that asked for it.
    int ExitCode = 0;

    // Test seam: every message box of the program goes through ShowMessageBox().
    std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT flags)>
        MessageBoxHook;

    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // COM for the GUI thread (single-threaded apartment), common controls, the hidden window.
    void Initialize();
    HWND Handle() const { return handle_; }
    HFONT DefaultFont() const { return font_.get(); }

    void SetMainForm(TForm* form) { mainForm_ = form; }
    TForm* MainForm() const { return mainForm_; }

    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Lets the loop run again after Terminate (a new main form in the same process).
    void ResetTerminated() { terminated_ = false; }
    // Handles waiting messages and returns (used by modal loops and tests).
    void ProcessMessages();
    bool HandleMessage(); // waits for one message; false when the loop must end
    void BringToFront();

    bool HelpCommand(WORD command, LONG data);
    void HandleException(const std::string& message);
    void HandleCurrentException() noexcept;

    int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags,
                   HWND owner = nullptr);

    // Modal forms nest; the innermost is the one brought to the front.
    void PushModal(TForm* form);
    void PopModal();
    TForm* ActiveModal() const { return modal_.empty() ? nullptr : modal_.back(); }

    bool IsFormWindow(HWND hwnd) const;

private:
    static LRESULT CALLBACK AppWndProc(HWND, UINT, WPARAM, LPARAM);
    void Dispatch(MSG& msg);
    HWND handle_ = nullptr;
    win::Font font_;
    TForm* mainForm_ = nullptr;
    std::vector<TForm*> modal_;
    bool terminated_ = false;
    bool comInitialized_ = false;
};

// The one application object of the process.
TApplication& Application();

// The boundary of every event, timer, callback and window procedure: an error ends the
// work and goes to the application's error handler. False when one did.
template <typename Work> bool CatchAtBoundary(Work&& work) noexcept
{
    try {
        work();
        return true;
    } catch (...) {
        Application().HandleCurrentException();
        return false;
    }
}

// "MS Sans Serif" at the given height (-11: 8 pt at 96 DPI), the font of every form.
HFONT CreateDialogFont(int height, bool underline);

// Text of an error as the error box shows it: a full stop is added when the last
// character sorts after ".".
std::string ErrorBoxText(const std::string& message);

} // namespace ui

// IEHOST.EXE: a stand-in for Internet Explorer that loads the registered browser helpers
// as the browser does and plays a page's life at them, for tests and demos.
//
//   IEHOST.EXE [--script FILE] [--out FILE] [--browser 6|7] [STEP ...]
//
// Steps come from FILE ("-": standard input; one a line, "#" comments and blank lines
// skipped), then from the command line (one argument each):
//
//   visit URL                  print TEXT                 wait MS
//   popup URL [ctrl] [user] [nw2|nw3|nw3first] [both]     complete
//   frame URL                  repeat N STEP...
//   theater|fullscreen|toolbar|statusbar|addressbar|menubar|resizable on|off
//
// Output, one line each and flushed at once: "loaded {CLSID}" or "failed {CLSID} 0xHR"
// per helper; a step's line when it has run ("visit URL", "popup URL -> killed", ...);
// "set ToolBar 1" whenever a helper sets a browser property, so before the line of the
// step that made it do so; "end references=N sinks=M" once the helpers are gone.
// --out writes the output to FILE instead of standard output; --browser 6 plays a browser
// that knows no NewWindow3 (7, the default, does and fires it after NewWindow2). Exit code 0; 1 on
// a bad step or when CTRL cannot be held; 2 when no helper loaded.
#include <windows.h>

#include <exdispid.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Browser.h"
#include "helper_contract/HelperContract.h"

using Microsoft::WRL::ComPtr;

namespace {

// Tests read us through a pipe: every line goes out whole, at once.
void Say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Complain(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stderr);
    std::fflush(stderr);
}

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// NewWindow3's flags; the SDK declares them only for newer targets than ours.
constexpr DWORD kUserInited = 0x2;     // NWMF_USERINITED
constexpr DWORD kUserRequested = 0x80; // NWMF_USERREQUESTED

// ---- steps ----------------------------------------------------------------------------

// A property the page changes, and the event the browser fires for it.
struct Toggle {
    const char* word;
    iehost::Property property;
    DISPID event;
};
constexpr Toggle kToggles[] = {
    {"theater", iehost::Property::TheaterMode, DISPID_ONTHEATERMODE},
    {"fullscreen", iehost::Property::FullScreen, DISPID_ONFULLSCREEN},
    {"toolbar", iehost::Property::ToolBar, DISPID_ONTOOLBAR},
    {"statusbar", iehost::Property::StatusBar, DISPID_ONSTATUSBAR},
    {"addressbar", iehost::Property::AddressBar, DISPID_ONADDRESSBAR},
    {"menubar", iehost::Property::MenuBar, DISPID_ONMENUBAR},
    {"resizable", iehost::Property::Resizable, DISPID_WINDOWSETRESIZABLE},
};

enum class Kind { Visit, Popup, Frame, Toggle, Complete, Wait, Repeat, Print };
// Which new-window events a pop-up fires, in order.
enum class NewWindowOrder { Nw2ThenNw3, Nw2, Nw3, Nw3ThenNw2 };

struct Step {
    Kind kind = Kind::Print;
    std::string text; // the URL, or the text to print
    bool ctrl = false;
    bool user = false;
    bool fireBoth = false;
    NewWindowOrder order = NewWindowOrder::Nw2ThenNw3;
    const Toggle* toggle = nullptr;
    bool on = false;
    unsigned long number = 0;   // milliseconds to wait, or times to repeat
    std::vector<Step> repeated; // the one step repeat runs
};

std::optional<unsigned long> ParseNumber(const std::string& word)
{
    unsigned long number = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
    if (error != std::errc{} || end != word.data() + word.size()) return std::nullopt;
    return number;
}

std::optional<Step> ParseStep(const std::string& line)
{
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    std::vector<std::string> args;
    for (std::string word; words >> word;)
        args.push_back(word);

    Step step;
    if (verb == "print") {
        step.kind = Kind::Print;
        std::size_t at = line.find_first_not_of(" \t", line.find(verb) + verb.size());
        if (at != std::string::npos) step.text = line.substr(at);
        return step;
    }
    if (verb == "repeat") {
        // The rest of the line after the count is itself a step.
        if (args.size() < 2) return std::nullopt;
        std::size_t countAt = line.find(args[0], line.find(verb) + verb.size());
        std::optional<unsigned long> count = ParseNumber(args[0]);
        std::optional<Step> inner = ParseStep(line.substr(countAt + args[0].size()));
        if (!count || !inner) return std::nullopt;
        step.kind = Kind::Repeat;
        step.number = *count;
        step.repeated.push_back(std::move(*inner));
        return step;
    }
    if ((verb == "visit" || verb == "frame") && args.size() == 1) {
        step.kind = verb == "visit" ? Kind::Visit : Kind::Frame;
        step.text = args[0];
        return step;
    }
    if (verb == "popup" && !args.empty()) {
        step.kind = Kind::Popup;
        step.text = args[0];
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string& option = args[i];
            if (option == "ctrl")
                step.ctrl = true;
            else if (option == "user")
                step.user = true;
            else if (option == "both")
                step.fireBoth = true;
            else if (option == "nw2")
                step.order = NewWindowOrder::Nw2;
            else if (option == "nw3")
                step.order = NewWindowOrder::Nw3;
            else if (option == "nw3first")
                step.order = NewWindowOrder::Nw3ThenNw2;
            else
                return std::nullopt;
        }
        return step;
    }
    if (verb == "complete" && args.empty()) {
        step.kind = Kind::Complete;
        return step;
    }
    if (verb == "wait" && args.size() == 1) {
        std::optional<unsigned long> ms = ParseNumber(args[0]);
        if (!ms) return std::nullopt;
        step.kind = Kind::Wait;
        step.number = *ms;
        return step;
    }
    for (const Toggle& toggle : kToggles) {
        if (verb != toggle.word) continue;
        if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) return std::nullopt;
        step.kind = Kind::Toggle;
        step.toggle = &toggle;
        step.on = args[0] == "on";
        return step;
    }
    return std::nullopt;
}

bool IsBlankOrComment(const std::string& line)
{
    std::size_t at = line.find_first_not_of(" \t\r");
    return at == std::string::npos || line[at] == '#';
}

// Adds the steps of one script line or argument; false after saying what was wrong.
bool AddStep(const std::string& text, std::vector<Step>& steps)
{
    std::string line = text;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    if (IsBlankOrComment(line)) return true;
    std::optional<Step> step = ParseStep(line);
    if (!step) {
        Complain("unknown step: " + line);
        return false;
    }
    steps.push_back(std::move(*step));
    return true;
}

bool ReadScript(std::istream& script, std::vector<Step>& steps)
{
    for (std::string line; std::getline(script, line);)
        if (!AddStep(line, steps)) return false;
    return true;
}

// ---- playing --------------------------------------------------------------------------

// Lets helpers' windows and timers run, as the browser's message loop would.
void PumpMessages(DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

bool CtrlIsDown()
{
    return (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
}

// Presses or releases CTRL as the keyboard would, and waits until the asynchronous key
// state (what a helper reads) shows it.
bool SetCtrl(bool down)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_CONTROL;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &input, sizeof input);
    DWORD start = GetTickCount();
    while (CtrlIsDown() != down) {
        if (GetTickCount() - start > 2000) return false;
        PumpMessages(5);
    }
    return true;
}

class Player {
  public:
    explicit Player(iehost::Browser& browser) : browser_(browser) {}

    // False when the step could not be played (the reason is said on standard error).
    bool Play(const Step& step)
    {
        switch (step.kind) {
        case Kind::Visit:
            if (browser_.FireBeforeNavigate2(step.text)) {
                Say("visit " + step.text + " -> cancelled");
                return true;
            }
            browser_.SetLocation(step.text);
            browser_.FireNavigateComplete2(step.text);
            browser_.FireDocumentComplete(step.text);
            Say("visit " + step.text);
            return true;
        case Kind::Popup:
            return Popup(step);
        case Kind::Frame:
            Say("frame " + step.text +
                (browser_.FireBeforeNavigate2(step.text, "adframe") ? " -> cancelled"
                                                                    : " -> allowed"));
            return true;
        case Kind::Toggle:
            browser_.SetProperty(step.toggle->property, step.on ? 1 : 0);
            browser_.FireBool(step.toggle->event, step.on);
            Say(std::string(step.toggle->word) + (step.on ? " on" : " off"));
            return true;
        case Kind::Complete:
            browser_.FireDocumentComplete(browser_.Location());
            Say("complete");
            return true;
        case Kind::Wait:
            PumpMessages(static_cast<DWORD>(step.number));
            return true;
        case Kind::Repeat:
            for (unsigned long i = 0; i < step.number; ++i)
                if (!Play(step.repeated.front())) return false;
            return true;
        case Kind::Print:
            Say(step.text);
            return true;
        }
        return true;
    }

  private:
    bool Popup(const Step& step)
    {
        if (step.ctrl && !SetCtrl(true)) {
            SetCtrl(false);
            Complain("ctrl not down");
            return false;
        }
        DWORD flags = kUserInited | (step.user ? kUserRequested : 0);
        auto fire2 = [&] { return browser_.FireNewWindow2(); };
        auto fire3 = [&] { return browser_.FireNewWindow3(step.text, flags); };
        bool cancelled = false;
        switch (step.order) {
        case NewWindowOrder::Nw2:
            cancelled = fire2();
            break;
        case NewWindowOrder::Nw3:
            cancelled = fire3();
            break;
        case NewWindowOrder::Nw2ThenNw3:
            cancelled = fire2();
            if (!cancelled || step.fireBoth) cancelled = fire3() || cancelled;
            break;
        case NewWindowOrder::Nw3ThenNw2:
            cancelled = fire3();
            if (!cancelled || step.fireBoth) cancelled = fire2() || cancelled;
            break;
        }
        if (step.ctrl && !SetCtrl(false)) {
            Complain("ctrl not up");
            return false;
        }
        Say("popup " + step.text + (cancelled ? " -> killed" : " -> allowed"));
        return true;
    }

    iehost::Browser& browser_;
};

// ---- helpers --------------------------------------------------------------------------

struct Helper {
    std::string clsid;
    ComPtr<IObjectWithSite> object;
};

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// The subkeys of the browser helper key's parent, each named by a CLSID.
std::vector<std::string> RegisteredHelpers()
{
    std::string parent = contract::kHelperKey;
    parent.erase(parent.rfind('\\'));
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS)
        return {};
    Key key(raw);
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<Helper> LoadHelpers(iehost::Browser& browser)
{
    std::vector<Helper> helpers;
    for (const std::string& name : RegisteredHelpers()) {
        std::wstring wide(name.begin(), name.end());
        CLSID clsid{};
        HRESULT hr = CLSIDFromString(wide.data(), &clsid);
        if (FAILED(hr)) {
            Say("failed " + name + " " + Hex(hr));
            continue;
        }
        // Printed in the registry's canonical spelling, whatever case the key uses.
        wchar_t canonical[40] = {};
        StringFromGUID2(clsid, canonical, static_cast<int>(std::size(canonical)));
        Helper helper{std::string(canonical, canonical + wcslen(canonical)), nullptr};
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&helper.object));
        if (SUCCEEDED(hr)) hr = helper.object->SetSite(browser.Site());
        if (FAILED(hr)) {
            Say("failed " + helper.clsid + " " + Hex(hr));
            continue;
        }
        Say("loaded " + helper.clsid);
        helpers.push_back(std::move(helper));
    }
    return helpers;
}

// Plays every step, then takes the helpers down as the browser does when it closes.
int Run(const std::vector<Step>& steps, bool olderBrowser)
{
    iehost::Browser browser([](const char* property, long value) {
        Say("set " + std::string(property) + " " + std::to_string(value));
    });
    browser.SetOlderBrowser(olderBrowser);
    std::vector<Helper> helpers = LoadHelpers(browser);
    bool anyLoaded = !helpers.empty();

    Player player(browser);
    bool played = true;
    for (const Step& step : steps)
        if (!(played = player.Play(step))) break;

    for (Helper& helper : helpers) {
        helper.object->SetSite(nullptr);
        helper.object.Reset();
    }
    helpers.clear();
    CoFreeUnusedLibraries();
    Say("end references=" + std::to_string(browser.OutsideReferences()) +
        " sinks=" + std::to_string(browser.AdvisedSinks()));
    if (!played) return 1;
    return anyLoaded ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<Step> steps;
    bool olderBrowser = false;
    int at = 1;
    for (; at + 1 < argc && std::string(argv[at]).rfind("--", 0) == 0; at += 2) {
        std::string option = argv[at], value = argv[at + 1];
        if (option == "--out") {
            // Tests start us without a pipe: the lines go to a file, flushed as they come.
            if (!std::freopen(value.c_str(), "w", stdout)) {
                Complain("cannot write " + value);
                return 1;
            }
        } else if (option == "--browser") {
            if (value != "6" && value != "7") {
                Complain("--browser is 6 (no NewWindow3) or 7");
                return 1;
            }
            olderBrowser = value == "6";
        } else if (option == "--script") {
            if (value == "-") {
                if (!ReadScript(std::cin, steps)) return 1;
            } else {
                std::ifstream script(value);
                if (!script) {
                    Complain("cannot read " + value);
                    return 1;
                }
                if (!ReadScript(script, steps)) return 1;
            }
        } else {
            Complain("unknown option " + option);
            return 1;
        }
    }
    for (; at < argc; ++at)
        if (!AddStep(argv[at], steps)) return 1;

    // Browser helpers live in the browser's single-threaded apartment.
    if (FAILED(CoInitialize(nullptr))) {
        Complain("CoInitialize failed");
        return 1;
    }
    int status = Run(steps, olderBrowser);
    CoUninitialize();
    return status;
}

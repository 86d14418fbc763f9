// IEHOST.EXE: a stand-in for Internet Explorer that loads the registered browser helpers
// as the browser does and plays a page's life at them, for tests and demos.
//
//   IEHOST.EXE [--script FILE] [--out FILE] [--browser 6|7] [--features LIST] [STEP ...]
//
// Steps come from FILE ("-": standard input; one a line, "#" comments and blank lines
// skipped), then from the command line (one argument each). Text is UTF-8.
//
//   visit URL                  print TEXT                 wait MS
//   popup URL [ctrl] [user] [infobar] [cancelled] [from FRAMEURL] [nw2|nw3|nw3first] [both]
//   frame URL                  complete                   repeat N STEP...
//   theater|fullscreen|toolbar|statusbar|addressbar|menubar|resizable on|off
//   signal NAME                waitfor NAME               waitfor file PATH
//   memory low|normal          closeon PROPERTY
//   window NAME [LIST]         closed
//   library                    unload
//
// A pop-up is opened by the page (NWMF_USERINITED), or asked for by the user ("user":
// NWMF_USERREQUESTED) or let through from the information bar ("infobar":
// NWMF_USERALLOWED); "from" opens it from a frame at FRAMEURL (NewWindow3's URL context);
// "cancelled" has another add-on cancel it before the helpers hear of it.
// "signal" sets the named event NAME (made when missing); "waitfor" waits up to a minute
// for it or for a file, so that tests follow what happened instead of sleeping.
// "memory low" takes all of the address space but holes under 2 MB, as a long-running
// 32-bit browser may find it; "memory normal" gives it back.
// "closeon ToolBar" closes the window (its helpers are unsited) inside the call in which a
// helper sets that property.
//
// The steps before the first "window" line are the first window's, on the main thread;
// "window NAME" opens another window, on a thread of its own, with the steps that follow;
// LIST is window.open's features for how it opens ("toolbar=no,status=no,location=no,
// menubar=no,resizable=no,fullscreen=yes,channelmode=yes"; --features for the first
// window). All windows play at once, each with its own helpers; once every window has
// closed, the steps after "closed" run: "library" says whether each helper's library is
// still loaded, "unload" asks COM to free unused libraries until it is not (ten seconds).
//
// Output, one line each and flushed at once (another window's lines begin with "NAME: "):
// "loaded {CLSID}" or "failed {CLSID} 0xHR" per helper; a step's line when it has run
// ("visit URL", "popup URL -> killed", ...); "set ToolBar 1" whenever a helper sets a
// browser property, so before the line of the step that made it do so; "end references=N
// sinks=M" once a window's helpers are gone; "library {CLSID} loaded|unloaded".
// --out writes the output to FILE instead of standard output; --browser 6 plays a browser
// that knows no NewWindow3 (7, the default, does and fires it after NewWindow2). Exit code
// 0; 1 on a bad step, a wait that timed out or when CTRL cannot be held; 2 when no helper
// loaded.
#include <windows.h>

#include <exdispid.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Browser.h"
#include "helper_contract/HelperContract.h"

using Microsoft::WRL::ComPtr;

namespace {

// Tests read us through a pipe or a file: every line goes out whole, at once, whichever
// window's thread says it.
std::mutex g_output;

void Say(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_output);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Complain(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_output);
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
constexpr DWORD kUserAllowed = 0x100;  // NWMF_USERALLOWED
// How long "waitfor" waits.
constexpr DWORD kWaitForMs = 60000;

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

// window.open's features, and the property each one opens the window with.
struct Feature {
    const char* name;
    iehost::Property property;
};
constexpr Feature kFeatures[] = {
    {"toolbar", iehost::Property::ToolBar},         {"status", iehost::Property::StatusBar},
    {"location", iehost::Property::AddressBar},     {"menubar", iehost::Property::MenuBar},
    {"resizable", iehost::Property::Resizable},     {"fullscreen", iehost::Property::FullScreen},
    {"channelmode", iehost::Property::TheaterMode},
};

enum class Kind {
    Visit,
    Popup,
    Frame,
    Toggle,
    Complete,
    Wait,
    Repeat,
    Print,
    Signal,
    WaitForEvent,
    WaitForFile,
    Memory,
    CloseOn,
    Library,
    Unload
};
// Which new-window events a pop-up fires, in order.
enum class NewWindowOrder { Nw2ThenNw3, Nw2, Nw3, Nw3ThenNw2 };

struct Step {
    Kind kind = Kind::Print;
    std::string text; // the URL, the text to print, an event's or a file's name, a property
    bool ctrl = false;
    bool user = false;
    bool infobar = false;
    bool cancelled = false;
    std::string frameUrl;
    bool fireBoth = false;
    NewWindowOrder order = NewWindowOrder::Nw2ThenNw3;
    const Toggle* toggle = nullptr;
    bool on = false;
    unsigned long number = 0;   // milliseconds to wait, or times to repeat
    std::vector<Step> repeated; // the one step repeat runs
};

bool NeedsBrowser(Kind kind)
{
    switch (kind) {
    case Kind::Print:
    case Kind::Wait:
    case Kind::Signal:
    case Kind::WaitForEvent:
    case Kind::WaitForFile:
    case Kind::Memory:
    case Kind::Library:
    case Kind::Unload:
        return false;
    default:
        return true;
    }
}

std::optional<unsigned long> ParseNumber(const std::string& word)
{
    unsigned long number = 0;
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
    if (error != std::errc{} || end != word.data() + word.size()) return std::nullopt;
    return number;
}

bool ParsePopupOptions(const std::vector<std::string>& args, Step& step)
{
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "ctrl")
            step.ctrl = true;
        else if (option == "user")
            step.user = true;
        else if (option == "infobar")
            step.infobar = true;
        else if (option == "cancelled")
            step.cancelled = true;
        else if (option == "from" && i + 1 < args.size())
            step.frameUrl = args[++i];
        else if (option == "both")
            step.fireBoth = true;
        else if (option == "nw2")
            step.order = NewWindowOrder::Nw2;
        else if (option == "nw3")
            step.order = NewWindowOrder::Nw3;
        else if (option == "nw3first")
            step.order = NewWindowOrder::Nw3ThenNw2;
        else
            return false;
    }
    return true;
}

std::optional<Step> ParseStep(const std::string& line)
{
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    std::vector<std::string> args;
    for (std::string word; words >> word;)
        args.push_back(word);
    // The rest of the line after the verb, blanks inside kept.
    auto rest = [&] {
        std::size_t at = line.find_first_not_of(" \t", line.find(verb) + verb.size());
        return at == std::string::npos ? std::string() : line.substr(at);
    };

    Step step;
    if (verb == "print") {
        step.kind = Kind::Print;
        step.text = rest();
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
        if (!ParsePopupOptions(args, step)) return std::nullopt;
        return step;
    }
    if ((verb == "complete" || verb == "library" || verb == "unload") && args.empty()) {
        step.kind = verb == "complete"  ? Kind::Complete
                    : verb == "library" ? Kind::Library
                                        : Kind::Unload;
        return step;
    }
    if (verb == "wait" && args.size() == 1) {
        std::optional<unsigned long> ms = ParseNumber(args[0]);
        if (!ms) return std::nullopt;
        step.kind = Kind::Wait;
        step.number = *ms;
        return step;
    }
    if (verb == "signal" && args.size() == 1) {
        step.kind = Kind::Signal;
        step.text = args[0];
        return step;
    }
    if (verb == "waitfor" && !args.empty()) {
        if (args[0] == "file" && args.size() > 1) {
            step.kind = Kind::WaitForFile;
            step.text = rest().substr(4);
            step.text.erase(0, step.text.find_first_not_of(" \t"));
            return step;
        }
        if (args.size() != 1) return std::nullopt;
        step.kind = Kind::WaitForEvent;
        step.text = args[0];
        return step;
    }
    if (verb == "memory" && args.size() == 1 && (args[0] == "low" || args[0] == "normal")) {
        step.kind = Kind::Memory;
        step.on = args[0] == "low";
        return step;
    }
    if (verb == "closeon" && args.size() == 1) {
        step.kind = Kind::CloseOn;
        step.text = args[0];
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

// A browser window's part of the script.
struct WindowScript {
    std::string name; // empty for the first window
    std::string features;
    std::vector<Step> steps;
};

struct Script {
    std::vector<WindowScript> windows{1}; // the first is the main thread's
    std::vector<Step> closed;
    bool inClosed = false;
};

bool IsBlankOrComment(const std::string& line)
{
    std::size_t at = line.find_first_not_of(" \t\r");
    return at == std::string::npos || line[at] == '#';
}

// Adds the steps of one script line or argument; false after saying what was wrong.
bool AddLine(const std::string& text, Script& script)
{
    std::string line = text;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.pop_back();
    if (IsBlankOrComment(line)) return true;
    std::istringstream words(line);
    std::string verb, name, features, extra;
    words >> verb >> name >> features >> extra;
    if (verb == "window" && !name.empty() && extra.empty() && !script.inClosed) {
        script.windows.push_back({name, features, {}});
        return true;
    }
    if (verb == "closed" && name.empty()) {
        script.inClosed = true;
        return true;
    }
    std::optional<Step> step = ParseStep(line);
    if (!step || (script.inClosed && NeedsBrowser(step->kind))) {
        Complain("unknown step: " + line);
        return false;
    }
    (script.inClosed ? script.closed : script.windows.back().steps).push_back(std::move(*step));
    return true;
}

bool ReadScript(std::istream& input, Script& script)
{
    for (std::string line; std::getline(input, line);)
        if (!AddLine(line, script)) return false;
    return true;
}

// ---- the process's side ---------------------------------------------------------------

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

// Waits for an object, pumping messages meanwhile; false after timeoutMs.
bool PumpUntilSignalled(HANDLE object, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        DWORD wait = MsgWaitForMultipleObjects(1, &object, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) return true;
        PumpMessages(0);
    }
}

HANDLE NamedEvent(const std::string& name)
{
    return CreateEventA(nullptr, TRUE, FALSE, name.c_str());
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

// The address space a long-running 32-bit browser may be left with: only holes under 2 MB.
class AddressSpace {
  public:
    void Squeeze()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        taken_.reserve(kMostBlocks); // no allocation of ours once it is short
        for (SIZE_T size = SIZE_T(1) << 30; size >= kSmallest; size /= 2)
            while (taken_.size() < kMostBlocks)
                if (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS))
                    taken_.push_back(block);
                else
                    break;
    }
    void GiveBack()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (void* block : taken_)
            VirtualFree(block, 0, MEM_RELEASE);
        taken_.clear();
    }

  private:
    static constexpr SIZE_T kSmallest = 2 * 1024 * 1024;
    // 4 GB in 2 MB blocks; a 64-bit process is not squeezed beyond that.
    static constexpr std::size_t kMostBlocks = 2048;
    std::mutex mutex_;
    std::vector<void*> taken_;
};
AddressSpace g_addressSpace;

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

// The library a helper's class is served from.
std::string LibraryOf(const std::string& clsid)
{
    char path[MAX_PATH] = {};
    LONG size = sizeof path;
    std::string key = "CLSID\\" + clsid + "\\InprocServer32";
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), path, &size) != ERROR_SUCCESS) return {};
    return path;
}

// The helpers loaded in any window, for "library" and "unload".
std::mutex g_loadedMutex;
std::vector<std::string> g_loaded;

std::vector<Helper> LoadHelpers(iehost::Browser& browser, const std::string& prefix)
{
    std::vector<Helper> helpers;
    for (const std::string& name : RegisteredHelpers()) {
        std::wstring wide(name.begin(), name.end());
        CLSID clsid{};
        HRESULT hr = CLSIDFromString(wide.data(), &clsid);
        if (FAILED(hr)) {
            Say(prefix + "failed " + name + " " + Hex(hr));
            continue;
        }
        // Printed in the registry's canonical spelling, whatever case the key uses.
        wchar_t canonical[40] = {};
        StringFromGUID2(clsid, canonical, static_cast<int>(std::size(canonical)));
        Helper helper{std::string(canonical, canonical + wcslen(canonical)), nullptr};
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&helper.object));
        if (SUCCEEDED(hr)) hr = helper.object->SetSite(browser.Site());
        if (FAILED(hr)) {
            Say(prefix + "failed " + helper.clsid + " " + Hex(hr));
            continue;
        }
        Say(prefix + "loaded " + helper.clsid);
        {
            std::lock_guard<std::mutex> lock(g_loadedMutex);
            if (std::find(g_loaded.begin(), g_loaded.end(), helper.clsid) == g_loaded.end())
                g_loaded.push_back(helper.clsid);
        }
        helpers.push_back(std::move(helper));
    }
    return helpers;
}

// Whether any loaded helper's library is still in the process; says so for each.
bool LibrariesLoaded(bool say)
{
    std::lock_guard<std::mutex> lock(g_loadedMutex);
    bool any = false;
    for (const std::string& clsid : g_loaded) {
        std::string library = LibraryOf(clsid);
        bool loaded = !library.empty() && GetModuleHandleA(library.c_str()) != nullptr;
        any = any || loaded;
        if (say) Say("library " + clsid + (loaded ? " loaded" : " unloaded"));
    }
    return any;
}

// ---- playing --------------------------------------------------------------------------

// One browser window: its browser object, its helpers and the steps it plays.
class Window {
  public:
    Window(const WindowScript& script, bool olderBrowser)
        : prefix_(script.name.empty() ? "" : script.name + ": "),
          browser_([this](const char* property, long value) { HelperSet(property, value); })
    {
        browser_.SetOlderBrowser(olderBrowser);
        OpenWith(script.features);
    }

    // Plays every step, then takes the helpers down as the browser does when it closes.
    int Run(const std::vector<Step>& steps)
    {
        helpers_ = LoadHelpers(browser_, prefix_);
        bool loadedAny = !helpers_.empty();
        bool played = true;
        for (const Step& step : steps)
            if (!(played = Play(step))) break;
        Close();
        helpers_.clear();
        Say(prefix_ + "end references=" + std::to_string(browser_.OutsideReferences()) +
            " sinks=" + std::to_string(browser_.AdvisedSinks()));
        if (!played) return 1;
        return loadedAny ? 0 : 2;
    }

    // The steps that need no window, also after every window has closed.
    static bool PlayAlone(const Step& step, const std::string& prefix)
    {
        switch (step.kind) {
        case Kind::Wait:
            PumpMessages(static_cast<DWORD>(step.number));
            return true;
        case Kind::Print:
            Say(prefix + step.text);
            return true;
        case Kind::Signal: {
            HANDLE event = NamedEvent(step.text);
            bool set = event && SetEvent(event);
            if (event) CloseHandle(event);
            if (!set) Complain("cannot signal " + step.text);
            return set;
        }
        case Kind::WaitForEvent: {
            HANDLE event = NamedEvent(step.text);
            bool came = event && PumpUntilSignalled(event, kWaitForMs);
            if (event) CloseHandle(event);
            if (!came) Complain("timed out waiting for " + step.text);
            return came;
        }
        case Kind::WaitForFile: {
            DWORD start = GetTickCount();
            while (GetFileAttributesA(step.text.c_str()) == INVALID_FILE_ATTRIBUTES) {
                if (GetTickCount() - start > kWaitForMs) {
                    Complain("timed out waiting for " + step.text);
                    return false;
                }
                PumpMessages(10);
            }
            return true;
        }
        case Kind::Memory:
            if (step.on)
                g_addressSpace.Squeeze();
            else
                g_addressSpace.GiveBack();
            Say(prefix + (step.on ? "memory low" : "memory normal"));
            return true;
        case Kind::Library:
            LibrariesLoaded(true);
            return true;
        case Kind::Unload: {
            DWORD start = GetTickCount();
            for (;;) {
                CoFreeUnusedLibraries();
                if (!LibrariesLoaded(false) || GetTickCount() - start > 10000) break;
                PumpMessages(20);
            }
            LibrariesLoaded(true);
            return true;
        }
        default:
            Complain("not without a window");
            return false;
        }
    }

  private:
    // False when the step could not be played (the reason is said on standard error).
    bool Play(const Step& step)
    {
        switch (step.kind) {
        case Kind::Visit:
            if (browser_.FireBeforeNavigate2(step.text)) {
                Say(prefix_ + "visit " + step.text + " -> cancelled");
                return true;
            }
            browser_.SetLocation(step.text);
            browser_.FireNavigateComplete2(step.text);
            browser_.FireDocumentComplete(step.text);
            Say(prefix_ + "visit " + step.text);
            return true;
        case Kind::Popup:
            return Popup(step);
        case Kind::Frame:
            Say(prefix_ + "frame " + step.text +
                (browser_.FireBeforeNavigate2(step.text, "adframe") ? " -> cancelled"
                                                                    : " -> allowed"));
            return true;
        case Kind::Toggle:
            browser_.SetProperty(step.toggle->property, step.on ? 1 : 0);
            browser_.FireBool(step.toggle->event, step.on);
            Say(prefix_ + step.toggle->word + (step.on ? " on" : " off"));
            return true;
        case Kind::Complete:
            browser_.FireDocumentComplete(browser_.Location());
            Say(prefix_ + "complete");
            return true;
        case Kind::CloseOn:
            closeOn_ = step.text;
            return true;
        case Kind::Repeat:
            for (unsigned long i = 0; i < step.number; ++i)
                if (!Play(step.repeated.front())) return false;
            return true;
        default:
            return PlayAlone(step, prefix_);
        }
    }

    bool Popup(const Step& step)
    {
        if (step.ctrl && !SetCtrl(true)) {
            SetCtrl(false);
            Complain("ctrl not down");
            return false;
        }
        DWORD flags =
            kUserInited | (step.user ? kUserRequested : 0) | (step.infobar ? kUserAllowed : 0);
        auto fire2 = [&] { return browser_.FireNewWindow2(step.cancelled); };
        auto fire3 = [&] {
            return browser_.FireNewWindow3(step.text, flags, step.frameUrl, step.cancelled);
        };
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
        Say(prefix_ + "popup " + step.text + (cancelled ? " -> killed" : " -> allowed"));
        return true;
    }

    void OpenWith(const std::string& features)
    {
        std::istringstream list(features);
        for (std::string item; std::getline(list, item, ',');) {
            std::size_t equals = item.find('=');
            std::string name = item.substr(0, equals);
            std::string value = equals == std::string::npos ? "yes" : item.substr(equals + 1);
            for (const Feature& feature : kFeatures)
                if (name == feature.name)
                    browser_.SetProperty(feature.property, value == "yes" || value == "1");
        }
    }

    void HelperSet(const char* property, long value)
    {
        Say(prefix_ + "set " + property + " " + std::to_string(value));
        if (closeOn_ != property) return;
        // Closed in the middle of the helper's call, as a window may close under it.
        closeOn_.clear();
        Say(prefix_ + "closing");
        Close();
    }

    // The helpers are let go of at the end of Run: one may be inside its own call now.
    void Close()
    {
        if (closed_) return;
        closed_ = true;
        for (Helper& helper : helpers_)
            helper.object->SetSite(nullptr);
    }

    std::string prefix_;
    iehost::Browser browser_;
    std::vector<Helper> helpers_;
    std::string closeOn_;
    bool closed_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    Script script;
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
        } else if (option == "--features") {
            script.windows.front().features = value;
        } else if (option == "--script") {
            if (value == "-") {
                if (!ReadScript(std::cin, script)) return 1;
            } else {
                std::ifstream file(value);
                if (!file) {
                    Complain("cannot read " + value);
                    return 1;
                }
                if (!ReadScript(file, script)) return 1;
            }
        } else {
            Complain("unknown option " + option);
            return 1;
        }
    }
    for (; at < argc; ++at)
        if (!AddLine(argv[at], script)) return 1;

    // Browser helpers live in the single-threaded apartment of their window's thread.
    if (FAILED(CoInitialize(nullptr))) {
        Complain("CoInitialize failed");
        return 1;
    }
    bool mainWindow = script.windows.size() == 1 || !script.windows.front().steps.empty();
    std::vector<int> results(script.windows.size(), 0);
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < script.windows.size(); ++i)
        threads.emplace_back([&, i] {
            CoInitialize(nullptr);
            {
                Window window(script.windows[i], olderBrowser);
                results[i] = window.Run(script.windows[i].steps);
            }
            CoUninitialize();
        });
    if (mainWindow) {
        Window window(script.windows.front(), olderBrowser);
        results.front() = window.Run(script.windows.front().steps);
    }
    for (std::thread& thread : threads)
        thread.join();
    CoFreeUnusedLibraries();

    int status = 0;
    for (int result : results)
        status = std::max(status, result);
    for (const Step& step : script.closed)
        if (!Window::PlayAlone(step, "")) {
            status = std::max(status, 1);
            break;
        }
    g_addressSpace.GiveBack();
    CoUninitialize();
    return status;
}

// The "Default Behaviour" page, the log-size box and Ok/Cancel/Apply through the real
// window: users' clicks and keys in, the real registry and the controls' state out.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "MainFormFixture.h"
#include "SettingsKey.h"

namespace {

using settingskey::Dword;
using settingskey::Raw;
using settingskey::Sz;

using testsupport::PumpUntil;

// What a user's click sends: the button toggles itself and tells its parent.
void Click(ui::TControl& control)
{
    SendMessageA(control.Handle(), BM_CLICK, 0, 0);
}

void Type(ui::TEdit& edit, const std::string& keys)
{
    for (char key : keys)
        SendMessageA(edit.Handle(), WM_CHAR, static_cast<unsigned char>(key), 0);
}

void ClearBox(ui::TEdit& edit)
{
    SendMessageA(edit.Handle(), EM_SETSEL, 0, -1);
    SendMessageA(edit.Handle(), WM_CHAR, '\b', 0);
}

void PressKey(ui::TEdit& edit, WPARAM key)
{
    SendMessageA(edit.Handle(), WM_KEYDOWN, key, 0);
    SendMessageA(edit.Handle(), WM_KEYUP, key, 0);
}

std::string LocaleThousands()
{
    char separator[8] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, separator, sizeof separator);
    return separator;
}

} // namespace

class SettingsPageTest : public MainFormTest {
  protected:
    // The fourteen boxes with the value each one edits, in the page's order.
    std::vector<std::pair<ui::TCheckBox*, const char*>> Boxes()
    {
        return {
            {&form->chkKillPopups, "DefaultNoPopups"},
            {&form->chkAllowPopups, "IgnoreWhenCtrlKey"},
            {&form->chkBlockAds, "BlockAds"},
            {&form->chkBlockFileSharingAds, "BlockFileSharingAds"},
            {&form->chkVisualAlert, "TrayAnimate"},
            {&form->chkAudioAlert, "PlaySound"},
            {&form->chkDisableTheaterMode, "DisableTheater"},
            {&form->chkDisableFullScreen, "DisableFullScreen"},
            {&form->chkRunSilent, "SilentMode"},
            {&form->chkAllowResizing, "AlwaysAllowRezize"},
            {&form->chkShowToolBar, "AlwaysShowToolBar"},
            {&form->chkShowStatusBar, "AlwaysShowStatusBar"},
            {&form->chkShowAddressBar, "AlwaysShowAddressBar"},
            {&form->chkShowMenuBar, "AlwaysShowMenuBar"},
        };
    }

    // Shows the hidden window, which reloads the page from the registry.
    void ShowWindow()
    {
        form->Hide();
        form->Show();
        ASSERT_TRUE(form->Visible());
    }

    void ExpectSoundFileEnabled(bool enabled)
    {
        EXPECT_EQ(form->txtAudioAlert.Enabled(), enabled);
        EXPECT_EQ(form->btnAudioAlert.Enabled(), enabled);
        EXPECT_EQ(form->txtAudioAlert.Color(), enabled ? COLOR_WINDOW : COLOR_BTNFACE);
    }
};

TEST_F(SettingsPageTest, RefreshOnAnEmptyRegistry)
{
    form->SettingsRefresh();
    const std::map<std::string, bool> checked = {
        {"DefaultNoPopups", true},
        {"IgnoreWhenCtrlKey", true},
        {"BlockFileSharingAds", true},
        {"TrayAnimate", true},
    };
    for (auto [box, value] : Boxes())
        EXPECT_EQ(box->Checked(), checked.count(value) > 0) << value;
    EXPECT_FALSE(form->chkBlockAds.Visible()) << "filled but never shown";
    EXPECT_EQ(form->txtAudioAlert.Text(), "");
    ExpectSoundFileEnabled(false);
    EXPECT_EQ(form->txtMaxLogSize.Text(), "1000");
    EXPECT_EQ(form->updnMaxLogSize.Position(), 1000);
    EXPECT_EQ(form->lblKillsTotal.Text(), "0  Kills Total");
    EXPECT_EQ(form->lblKillsToday.Text(), "0  Kills Today");
    EXPECT_TRUE(form->tmrAnimate.Enabled()) << "the preview runs with the visual alert";
    EXPECT_STREQ(form->TrayIconData.szTip, "Quellor");
    EXPECT_FALSE(form->btnApply.Enabled());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SettingsPageTest, RefreshShowsWhatIsStored)
{
    // Every box the other way round from its default.
    auto checkedByDefault = [&](ui::TCheckBox* box) {
        return box == &form->chkKillPopups || box == &form->chkAllowPopups ||
               box == &form->chkBlockFileSharingAds || box == &form->chkVisualAlert;
    };
    for (auto [box, value] : Boxes())
        settingskey::SetDword(value, checkedByDefault(box) ? 0 : 1);
    settingskey::SetString("SoundFile", "C:\\Sounds\\whoosh.wav");
    settingskey::SetDword("MaxLogSize", 2500);
    settingskey::SetDword("KillsToDate", 1234567);
    settingskey::SetDword("KillsToday", 12);
    ShowWindow();

    for (auto [box, value] : Boxes())
        EXPECT_EQ(box->Checked(), !checkedByDefault(box)) << value;
    EXPECT_EQ(form->txtAudioAlert.Text(), "C:\\Sounds\\whoosh.wav");
    ExpectSoundFileEnabled(true);
    EXPECT_EQ(form->txtMaxLogSize.Text(), "2500");
    EXPECT_EQ(form->updnMaxLogSize.Position(), 2500);
    std::string sep = LocaleThousands();
    EXPECT_EQ(form->lblKillsTotal.Text(), "1" + sep + "234" + sep + "567  Kills Total");
    EXPECT_EQ(form->lblKillsToday.Text(), "12  Kills Today");
    // The visual alert is off: the preview stands still on the normal icon.
    EXPECT_FALSE(form->tmrAnimate.Enabled());
    EXPECT_TRUE(form->imgAnimateOn.Visible());
    EXPECT_FALSE(form->imgAnimateOff.Visible());
    EXPECT_FALSE(form->btnApply.Enabled());
}

class SettingsPageStartTest : public SettingsPageTest {
  protected:
    void BeforeCreate() override { settingskey::SetDword("TrayAnimate", 0); }
};

TEST_F(SettingsPageStartTest, StartUpWithTheVisualAlertOffLeavesThePreviewStill)
{
    // The box was already unchecked at design, so no click came from the refresh.
    EXPECT_FALSE(form->chkVisualAlert.Checked());
    EXPECT_FALSE(form->tmrAnimate.Enabled());
    EXPECT_TRUE(form->imgAnimateOn.Visible());
    EXPECT_FALSE(form->imgAnimateOff.Visible());
    // Start-up stored the two paths in the user's folders.
    EXPECT_EQ(settingskey::Get("LogFile"), (Raw{REG_SZ, Sz(LogFolder() + "QUELLOR.log")}));
    EXPECT_EQ(settingskey::Get("RuleFile"), (Raw{REG_SZ, Sz(RuleFolder() + "QUELLOR.rul")}));
}

TEST_F(SettingsPageTest, EveryEditEnablesApply)
{
    std::vector<std::pair<std::string, std::function<void()>>> edits;
    for (auto [box, value] : Boxes())
        if (box != &form->chkBlockAds) // hidden: no user reaches it
            edits.push_back({std::string("click ") + value, [box = box] { Click(*box); }});
    edits.push_back({"type a sound file", [&] {
                         Click(form->chkAudioAlert);
                         form->btnApply.SetEnabled(false);
                         Type(form->txtAudioAlert, "x");
                     }});
    edits.push_back({"type a log size", [&] { Type(form->txtMaxLogSize, "5"); }});
    edits.push_back({"arrow up", [&] { PressKey(form->txtMaxLogSize, VK_UP); }});
    edits.push_back({"arrow down", [&] { PressKey(form->txtMaxLogSize, VK_DOWN); }});
    for (const auto& [what, edit] : edits) {
        form->SettingsRefresh();
        ASSERT_FALSE(form->btnApply.Enabled()) << what;
        edit();
        EXPECT_TRUE(form->btnApply.Enabled()) << what;
    }
    EXPECT_EQ(settingskey::Get("LastChange"), std::nullopt) << "edits alone store nothing";
}

TEST_F(SettingsPageTest, DependentControlsFollowTheirBoxes)
{
    form->SettingsRefresh();
    Click(form->chkAudioAlert);
    ExpectSoundFileEnabled(true);
    Type(form->txtAudioAlert, "C:\\a.wav");
    Click(form->chkAudioAlert);
    ExpectSoundFileEnabled(false);
    EXPECT_EQ(form->txtAudioAlert.Text(), "C:\\a.wav") << "greyed, not cleared";

    Click(form->chkVisualAlert);
    EXPECT_FALSE(form->tmrAnimate.Enabled());
    Click(form->chkVisualAlert);
    EXPECT_TRUE(form->tmrAnimate.Enabled());

    // Cleared audio alert: the path is saved all the same, with PlaySound false.
    form->btnApply.Click();
    EXPECT_EQ(settingskey::Get("PlaySound"), (Raw{REG_DWORD, Dword(0)}));
    EXPECT_EQ(settingskey::Get("SoundFile"), (Raw{REG_SZ, Sz("C:\\a.wav")}));
}

TEST_F(SettingsPageTest, TheLogSizeBoxTakesDigitsAndBackspaceOnly)
{
    // Something to paste, so that a Ctrl+V let through would show.
    ASSERT_TRUE(OpenClipboard(form->Handle()));
    EmptyClipboard();
    HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 3);
    memcpy(GlobalLock(text), "4x", 3);
    GlobalUnlock(text);
    SetClipboardData(CF_TEXT, text);
    CloseClipboard();

    const struct {
        std::string keys;
        const char* text;
    } cases[] = {
        {"12a3", "123"},      {"12\b4", "14"},
        {"-5 +6.7", "567"},   {"9\x16", "9"}, // Ctrl+V as a character
        {"\x03\x18\x1a", ""},                 // Ctrl+C, Ctrl+X, Ctrl+Z
    };
    for (const auto& c : cases) {
        ClearBox(form->txtMaxLogSize);
        Type(form->txtMaxLogSize, c.keys);
        EXPECT_EQ(form->txtMaxLogSize.Text(), c.text) << c.keys;
    }
    // Pasting through the context menu (WM_PASTE) is not filtered.
    ClearBox(form->txtMaxLogSize);
    SendMessageA(form->txtMaxLogSize.Handle(), WM_PASTE, 0, 0);
    EXPECT_EQ(form->txtMaxLogSize.Text(), "4x");
}

TEST_F(SettingsPageTest, ArrowsStepByAHundredWithinTheRangeWithoutWrapping)
{
    const struct {
        const char* start;
        WPARAM key;
        int presses;
        const char* text;
    } cases[] = {
        {"1000", VK_UP, 1, "1100"},   {"1000", VK_DOWN, 3, "700"}, {"9950", VK_UP, 1, "10000"},
        {"10000", VK_UP, 2, "10000"}, {"50", VK_DOWN, 1, "0"},     {"0", VK_DOWN, 2, "0"},
        {"0", VK_UP, 3, "300"},
    };
    for (const auto& c : cases) {
        form->txtMaxLogSize.SetText(c.start);
        for (int i = 0; i < c.presses; ++i)
            PressKey(form->txtMaxLogSize, c.key);
        EXPECT_EQ(form->txtMaxLogSize.Text(), c.text) << c.start << " " << c.presses;
    }
    // A click on the upper arrow.
    form->txtMaxLogSize.SetText("300");
    RECT r{};
    GetClientRect(form->updnMaxLogSize.Handle(), &r);
    LPARAM top = MAKELPARAM(r.right / 2, 2);
    SendMessageA(form->updnMaxLogSize.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, top);
    SendMessageA(form->updnMaxLogSize.Handle(), WM_LBUTTONUP, 0, top);
    EXPECT_EQ(form->txtMaxLogSize.Text(), "400");
}

TEST_F(SettingsPageTest, ApplyStoresTheControlsAndTheLogSizeClampedIntoRange)
{
    // Text in the box -> stored MaxLogSize and what the box shows afterwards. The box
    // showed 2500 last, so a box without a number keeps that.
    const struct {
        const char* text;
        int stored;
    } cases[] = {
        {"700", 700}, {"0", 0}, {"10000", 10000}, {"50000", 10000}, {"", 2500}, {"4x", 2500},
    };
    for (const auto& c : cases) {
        settingskey::Clear();
        settingskey::SetDword("MaxLogSize", 2500);
        ShowWindow();
        Click(form->chkShowToolBar);
        form->txtMaxLogSize.SetText(c.text);
        form->btnApply.Click();
        EXPECT_EQ(settingskey::Get("MaxLogSize"), (Raw{REG_DWORD, Dword(c.stored)})) << c.text;
        EXPECT_EQ(form->txtMaxLogSize.Text(), std::to_string(c.stored)) << c.text;
        EXPECT_EQ(form->updnMaxLogSize.Position(), c.stored) << c.text;
        EXPECT_FALSE(form->btnApply.Enabled()) << c.text;
        EXPECT_EQ(settingskey::Get("AlwaysShowToolBar"), (Raw{REG_DWORD, Dword(1)})) << c.text;
    }
    // Stored out of range by someone else: shown as it is, clamped by the next apply.
    settingskey::SetDword("MaxLogSize", 50000);
    ShowWindow();
    EXPECT_EQ(form->txtMaxLogSize.Text(), "50000");
    Click(form->chkShowToolBar);
    form->btnOk.Click();
    EXPECT_EQ(settingskey::Get("MaxLogSize"), (Raw{REG_DWORD, Dword(10000)}));
}

TEST_F(SettingsPageTest, ApplyWritesEveryBoxAndTheSoundFile)
{
    ShowWindow();
    for (auto [box, value] : Boxes())
        if (box != &form->chkBlockAds) Click(*box);
    form->txtAudioAlert.SetText("D:\\no such\\file.wav");
    form->btnApply.Click();

    std::map<std::string, Raw> stored = settingskey::All();
    for (auto [box, value] : Boxes())
        EXPECT_EQ(stored[value], (Raw{REG_DWORD, Dword(box->Checked() ? 1 : 0)})) << value;
    EXPECT_EQ(stored["DefaultNoPopups"], (Raw{REG_DWORD, Dword(0)})) << "clicked from checked";
    EXPECT_EQ(stored["BlockAds"], (Raw{REG_DWORD, Dword(0)}));
    EXPECT_EQ(stored["SoundFile"], (Raw{REG_SZ, Sz("D:\\no such\\file.wav")}));
    EXPECT_EQ(stored["MaxLogSize"], (Raw{REG_DWORD, Dword(1000)}));
    EXPECT_EQ(stored.count("LastChange"), 1u);
    EXPECT_EQ(stored.count("KillsToDate"), 0u);
    EXPECT_FALSE(form->btnApply.Enabled());
    EXPECT_TRUE(form->Visible()) << "Apply keeps the window open";
}

TEST_F(SettingsPageTest, BlockAdsPassesUnchangedThroughEveryApply)
{
    for (DWORD stored : {1u, 0u}) {
        settingskey::SetDword("BlockAds", stored);
        ShowWindow();
        for (int i = 0; i < 3; ++i) {
            Click(form->chkRunSilent);
            form->btnApply.Click();
            EXPECT_EQ(settingskey::Get("BlockAds"), (Raw{REG_DWORD, Dword(stored)})) << i;
        }
    }
}

TEST_F(SettingsPageTest, CancelBringsBackTheStoredValuesAndSavesNothing)
{
    settingskey::SetDword("PlaySound", 1);
    settingskey::SetString("SoundFile", "C:\\Sounds\\laser.wav");
    settingskey::SetDword("MaxLogSize", 300);
    ShowWindow();
    std::map<std::string, Raw> before = settingskey::All();

    Click(form->chkKillPopups);
    Click(form->chkAudioAlert);
    form->txtAudioAlert.SetText("C:\\other.wav");
    PressKey(form->txtMaxLogSize, VK_UP);
    form->RulesChanged = true;
    form->btnCancel.Click();

    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->RulesChanged);
    EXPECT_FALSE(form->btnApply.Enabled());
    EXPECT_TRUE(form->chkKillPopups.Checked());
    EXPECT_TRUE(form->chkAudioAlert.Checked());
    ExpectSoundFileEnabled(true);
    EXPECT_EQ(form->txtAudioAlert.Text(), "C:\\Sounds\\laser.wav");
    EXPECT_EQ(form->txtMaxLogSize.Text(), "300");
    EXPECT_EQ(settingskey::All(), before);
}

TEST_F(SettingsPageTest, OkSavesOnlyWhenApplyIsEnabledAndHides)
{
    ShowWindow();
    std::map<std::string, Raw> before = settingskey::All();
    form->btnOk.Click();
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(settingskey::All(), before) << "nothing to apply, nothing written";

    ShowWindow();
    Click(form->chkShowMenuBar);
    form->btnOk.Click();
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(settingskey::Get("AlwaysShowMenuBar"), (Raw{REG_DWORD, Dword(1)}));
    EXPECT_EQ(settingskey::All().count("LastChange"), 1u);
}

TEST_F(SettingsPageTest, ALoadErrorDuringRefreshLeavesTheControlsAndShowsTheMessage)
{
    ShowWindow();
    Click(form->chkRunSilent);
    form->txtAudioAlert.SetText("C:\\kept.wav");
    settingskey::Set("DefaultNoPopups", REG_SZ, Sz("0"));

    // Cancel runs the refresh, which fails before touching anything: the window stays.
    SendMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
                 reinterpret_cast<LPARAM>(form->btnCancel.Handle()));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Invalid data type for 'DefaultNoPopups'");
    EXPECT_EQ(boxes[0].caption, "Quellor");
    EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_TRUE(form->Visible());
    EXPECT_TRUE(form->chkRunSilent.Checked());
    EXPECT_EQ(form->txtAudioAlert.Text(), "C:\\kept.wav");
    EXPECT_TRUE(form->btnApply.Enabled());

    // Showing the hidden window runs the same refresh: the same message, nothing reloaded.
    form->Hide();
    SendMessageA(form->Handle(), WM_TRAYMESSAGE, 0, WM_LBUTTONDBLCLK);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Invalid data type for 'DefaultNoPopups'");
    EXPECT_TRUE(form->chkRunSilent.Checked());
    EXPECT_TRUE(form->btnApply.Enabled());
}

class SettingsPageBadStartTest : public SettingsPageTest {
  protected:
    void BeforeCreate() override
    {
        settingskey::Set("DefaultNoPopups", REG_DWORD, Dword(0));
        settingskey::Set("KillDate", REG_BINARY, Dword(1));
        settingskey::Set("MaxLogSize", REG_DWORD, Dword(500));
    }
};

TEST_F(SettingsPageBadStartTest, ALoadErrorAtStartUpIsShownAndStartUpGoesOn)
{
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Invalid data type for 'KillDate'");
    EXPECT_EQ(settingskey::Get("LogFile"), (Raw{REG_SZ, Sz(LogFolder() + "QUELLOR.log")}));
    EXPECT_NE(form->KillMessage, 0u) << "registered";
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &form->TrayIconData)) << "the tray icon is there";
    // Read before the bad value: shown; from it on: the defaults.
    EXPECT_FALSE(form->chkKillPopups.Checked());
    EXPECT_TRUE(form->chkVisualAlert.Checked());
    EXPECT_EQ(form->txtMaxLogSize.Text(), "1000");
}

// Picking a file through the real file dialog. A thread timer runs inside the dialog's
// modal loop: it reads what the dialog shows, types a name and presses Open or Cancel.
namespace {

struct DialogScript {
    std::string name; // typed into the file name box; empty: Cancel
    bool seen = false;
    std::string title, folder, filter;
};
DialogScript* g_script = nullptr;

BOOL CALLBACK FindOwnDialog(HWND hwnd, LPARAM lp)
{
    char cls[16] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId() && std::string(cls) == "#32770" && IsWindowVisible(hwnd)) {
        *reinterpret_cast<HWND*>(lp) = hwnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK DriveFileDialog(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = nullptr;
    EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog || g_script->seen) return;
    g_script->seen = true;
    KillTimer(nullptr, id);
    char text[MAX_PATH] = {};
    GetWindowTextA(dialog, text, sizeof text);
    g_script->title = text;
    SendMessageA(dialog, CDM_GETFOLDERPATH, sizeof text, reinterpret_cast<LPARAM>(text));
    g_script->folder = text;
    GetDlgItemTextA(dialog, cmb1, text, sizeof text);
    g_script->filter = text;
    if (g_script->name.empty()) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    SendMessageA(dialog, CDM_SETCONTROLTEXT, GetDlgItem(dialog, cmb13) ? cmb13 : edt1,
                 reinterpret_cast<LPARAM>(g_script->name.c_str()));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

std::string WithoutSlash(std::string path)
{
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

} // namespace

TEST_F(SettingsPageTest, PickingASoundFilePlaysItAtOnceThroughTheSoundSeam)
{
    std::string soundDir = folder + "sounds\\";
    ASSERT_TRUE(CreateDirectoryA(soundDir.c_str(), nullptr));
    testsupport::WriteFileBytes(soundDir + "laser.wav", "RIFF");
    ShowWindow();
    Click(form->chkAudioAlert);
    char startFolder[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof startFolder, startFolder);

    const struct {
        std::string before;   // the sound box's text
        std::string startsIn; // the dialog's folder
        std::string typed;    // empty: the user cancels
        std::string after;
    } cases[] = {
        {"", folder, "", ""},
        {"", folder, "gunshot.wav", folder + "gunshot.wav"}, // need not exist
        {soundDir + "old.wav", soundDir, "laser.wav", soundDir + "laser.wav"},
        {soundDir + "old.wav", soundDir, "", soundDir + "old.wav"},
    };
    for (const auto& c : cases) {
        form->txtAudioAlert.SetText(c.before);
        form->btnApply.SetEnabled(false);
        sounds.clear();
        DialogScript script{c.typed};
        g_script = &script;
        UINT_PTR timer = SetTimer(nullptr, 0, 100, DriveFileDialog);
        SendMessageA(form->grpAlerts.Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
                     reinterpret_cast<LPARAM>(form->btnAudioAlert.Handle()));
        KillTimer(nullptr, timer);
        g_script = nullptr;

        ASSERT_TRUE(script.seen) << c.typed;
        EXPECT_EQ(script.title, "Select Audio Alert File");
        EXPECT_EQ(script.filter, "Sound files (*.wav)");
        EXPECT_STRCASEEQ(script.folder.c_str(), WithoutSlash(c.startsIn).c_str()) << c.before;
        EXPECT_EQ(form->txtAudioAlert.Text(), c.after) << c.typed;
        bool picked = !c.typed.empty();
        EXPECT_EQ(form->btnApply.Enabled(), picked) << c.typed;
        if (picked) {
            ASSERT_EQ(sounds.size(), 1u) << c.typed;
            EXPECT_EQ(sounds[0].first, c.after);
            EXPECT_EQ(sounds[0].second, static_cast<DWORD>(SND_FILENAME | SND_ASYNC));
        } else {
            EXPECT_TRUE(sounds.empty()) << "cancelled: nothing plays";
        }
        char now[MAX_PATH] = {};
        GetCurrentDirectoryA(sizeof now, now);
        EXPECT_STREQ(now, startFolder) << "the dialog leaves the current folder: " << c.typed;
    }
    // The picked path reaches the registry with Apply only.
    EXPECT_EQ(settingskey::Get("SoundFile"), std::nullopt);
    form->btnApply.Click();
    EXPECT_EQ(settingskey::Get("SoundFile"), (Raw{REG_SZ, Sz(soundDir + "old.wav")}));
}

// Group Policy over the user's own settings: the computer's value, else the user policy's,
// else the user's own; a value a policy sets is shown greyed, the page says it is managed,
// and Apply keeps the user's own value of it as it was.
TEST_F(SettingsPageTest, PolicyValuesAreShownGreyedAndApplyKeepsTheUsersOwn)
{
    testsupport::PolicyKeys policy;
    // Each value: nullptr not set, "sz" a text (no policy), else a DWORD.
    const struct {
        const char* name;
        const char *computer, *user, *own;
        const char* shown; // the box ("1" ticked) or the log size
        bool managed;
    } cases[] = {
        {"DefaultNoPopups", nullptr, nullptr, "0", "0", false},
        {"DefaultNoPopups", nullptr, "1", "0", "1", true},
        {"DefaultNoPopups", "0", "1", "1", "0", true},
        {"DisableTheater", "1", nullptr, nullptr, "1", true},
        {"PlaySound", nullptr, "7", "0", "1", true},
        {"IgnoreWhenCtrlKey", "sz", "0", "1", "0", true},
        {"AlwaysShowMenuBar", "sz", nullptr, "1", "1", false},
        {"MaxLogSize", nullptr, "5000", "2500", "5000", true},
        {"MaxLogSize", "20000", "300", "2500", "10000", true},
    };
    for (const auto& c : cases) {
        policy.Clear();
        settingskey::Clear();
        for (auto [root, value] :
             {std::pair{HKEY_LOCAL_MACHINE, c.computer}, {HKEY_CURRENT_USER, c.user}})
            if (value && std::string(value) == "sz")
                policy.Set(root, c.name, REG_SZ, Sz("1"));
            else if (value)
                policy.SetDword(root, c.name, std::stoul(value));
        if (c.own) settingskey::SetDword(c.name, std::stoul(c.own));
        const std::optional<Raw> own = settingskey::Get(c.name);
        ShowWindow();

        const bool logSize = std::string(c.name) == "MaxLogSize";
        ui::TControl* control = &form->txtMaxLogSize;
        std::string shown = form->txtMaxLogSize.Text();
        for (auto [box, value] : Boxes())
            if (value == std::string(c.name)) {
                control = box;
                shown = box->Checked() ? "1" : "0";
            }
        EXPECT_EQ(shown, c.shown) << c.name << " " << c.shown;
        EXPECT_EQ(control->Enabled(), !c.managed) << c.name << " " << c.shown;
        if (logSize) EXPECT_EQ(form->updnMaxLogSize.Enabled(), !c.managed);
        // The line of the page that shows the setting, and of no other.
        for (ui::TTabSheet* page : {&form->tabDefault, &form->tabHistory}) {
            form->pageMain.SetActivePage(*page);
            form->pageMainChange(&form->pageMain);
            EXPECT_EQ(form->lblManaged.Visible(),
                      c.managed && logSize == (page == &form->tabHistory))
                << c.name << " " << c.shown;
        }
        Click(form->chkShowStatusBar);
        form->btnApply.Click();
        if (c.managed) EXPECT_EQ(settingskey::Get(c.name), own) << c.name << " " << c.shown;
        EXPECT_EQ(settingskey::Get("AlwaysShowStatusBar"), (Raw{REG_DWORD, Dword(1)}));
    }
}

TEST_F(SettingsPageTest, GroupPolicyAppliedAgainReachesTheControlsWhileTheWindowIsHidden)
{
    testsupport::PolicyKeys policy;
    form->SettingsRefresh();
    policy.SetDword(HKEY_LOCAL_MACHINE, "BlockFileSharingAds", 0);
    auto announce = [&](const char* area) {
        SendMessageA(form->Handle(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(area));
    };
    announce("Environment");
    EXPECT_TRUE(form->chkBlockFileSharingAds.Checked()) << "another change: nothing read";
    announce("Policy");
    EXPECT_FALSE(form->chkBlockFileSharingAds.Checked());
    EXPECT_FALSE(form->chkBlockFileSharingAds.Enabled());

    // A window in use keeps what it shows until it is shown again.
    ShowWindow();
    policy.Clear();
    announce("Policy");
    EXPECT_FALSE(form->chkBlockFileSharingAds.Enabled());
    ShowWindow();
    EXPECT_TRUE(form->chkBlockFileSharingAds.Checked());
    EXPECT_TRUE(form->chkBlockFileSharingAds.Enabled());
}

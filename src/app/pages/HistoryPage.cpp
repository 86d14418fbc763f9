// The "History Log" page: the log's entries, which follow new kills while the page is
// shown, and a menu on them to open, copy or allow what was closed.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Paths.h"
#include "app/ShellOpen.h"
#include "app/frmMain.h"
#include "history/LogAddress.h"
#include "history/LogText.h"
#include "history/QuellorLogFile.h"
#include "rules/RuleFile.h"
#include "rules/RuleMatch.h"
#include "settings/KillLabels.h"
#include "settings/LogSizeText.h"
#include "settings/QuellorSettings.h"
#include "win/Error.h"
#include "win/Files.h"

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);

// The most the page reads: the newest records of the largest log the helpers keep. The
// log's folder is open to any process of the user, and a log of a gigabyte read whole
// would exhaust the program.
constexpr uint64_t kMaxRecordsRead =
    static_cast<uint64_t>(settings::kMaxLogSize) * 1024 / history::kLogEntrySize;

// The first record the list shows of a log of that many records.
uint64_t FirstRecordRead(uint64_t records)
{
    return records > kMaxRecordsRead ? records - kMaxRecordsRead : 0;
}

// Kept with each row: the same record gives the same key, so that the rows of a log trimmed
// meanwhile are found again in the new list.
LPARAM EntryKey(const history::TLogEntry& entry)
{
    std::hash<std::string_view> hash;
    size_t key = hash(std::string_view(reinterpret_cast<const char*>(&entry.Time), 8));
    key = key * 31 + hash(entry.URL);
    key = key * 31 + hash(entry.Source);
    return static_cast<LPARAM>(key);
}

bool SameEntry(const history::TLogEntry& a, const history::TLogEntry& b)
{
    return std::memcmp(&a.Time, &b.Time, sizeof a.Time) == 0 && a.URL == b.URL &&
           a.Source == b.Source;
}

// How many records were dropped from the start of the log, judged by the rows' keys: the
// first new row among the old ones, with every row after it the same in both. -1 when the
// new log does not continue the old one (it was cleared, or rewritten).
int DroppedRecords(const std::vector<LPARAM>& before, const ui::TListView& now)
{
    const int count = now.Count();
    if (count == 0) return -1;
    for (int dropped = 0; dropped < static_cast<int>(before.size()); ++dropped) {
        int row = 0;
        while (dropped + row < static_cast<int>(before.size()) && row < count &&
               before[static_cast<size_t>(dropped + row)] == now.ItemData(row))
            ++row;
        if (row > 0 && (dropped + row == static_cast<int>(before.size()) || row == count))
            return dropped;
    }
    return -1;
}

bool SameRule(const std::string& url, int kind, const std::string& otherUrl, int otherKind)
{
    if (kind != otherKind) return false;
    rules::TAddress a = rules::NormalizeAddress(url), b = rules::NormalizeAddress(otherUrl);
    return a.scheme == b.scheme && a.rest == b.rest && a.openEnded == b.openEnded;
}

// A movable block holding these bytes, for the clipboard; freed unless the clipboard took it.
struct ClipboardBlock {
    HGLOBAL handle = nullptr;
    ClipboardBlock(const void* data, size_t size) : handle(GlobalAlloc(GMEM_MOVEABLE, size))
    {
        void* bytes = handle ? GlobalLock(handle) : nullptr;
        if (!bytes) {
            if (handle) GlobalFree(handle);
            handle = nullptr;
            return;
        }
        std::memcpy(bytes, data, size);
        GlobalUnlock(handle);
    }
    ~ClipboardBlock()
    {
        if (handle) GlobalFree(handle);
    }
    ClipboardBlock(const ClipboardBlock&) = delete;
    ClipboardBlock& operator=(const ClipboardBlock&) = delete;
};

// The text on the clipboard in the ANSI code page, and as Unicode converted with that same
// code page: left to the system, the Unicode text would follow the keyboard layout's code
// page instead. Everything is made before the clipboard is emptied, so that a failure
// leaves the user's clipboard as it was.
void CopyToClipboard(HWND owner, const std::string& text)
{
    auto failed = [](DWORD error) {
        return win::EQuellorError("The address could not be put on the clipboard: " +
                                  win::SystemErrorText(HRESULT_FROM_WIN32(error)));
    };
    const int ansiLength = static_cast<int>(text.size()) + 1; // with the terminating null
    int wideLength = MultiByteToWideChar(CP_ACP, 0, text.c_str(), ansiLength, nullptr, 0);
    if (wideLength <= 0) throw failed(GetLastError());
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), ansiLength, wide.data(), wideLength) !=
        wideLength)
        throw failed(GetLastError());
    ClipboardBlock ansiBlock(text.c_str(), text.size() + 1),
        wideBlock(wide.c_str(), wide.size() * sizeof(wchar_t));
    if (!ansiBlock.handle || !wideBlock.handle) throw failed(GetLastError());

    // Another program may hold the clipboard for a moment.
    bool opened = false;
    for (int attempt = 0; attempt < 10 && !(opened = OpenClipboard(owner)); ++attempt)
        Sleep(20);
    if (!opened) throw failed(GetLastError());
    struct Close {
        ~Close() { CloseClipboard(); }
    } close;
    if (!EmptyClipboard()) throw failed(GetLastError());
    // Each block is the clipboard's once it took it.
    if (!SetClipboardData(CF_TEXT, ansiBlock.handle)) throw failed(GetLastError());
    ansiBlock.handle = nullptr;
    if (!SetClipboardData(CF_UNICODETEXT, wideBlock.handle)) throw failed(GetLastError());
    wideBlock.handle = nullptr;
}

} // namespace

void TfrmMain::CreateHistoryPage()
{
    grpKillList.Create(tabHistory, "Extermination List", 0, 8, 513, 249);
    // On the frame line: their background hides the line behind the text.
    lblKillsToday.Create(grpKillList, "0 Kills Today", 168, 0);
    lblKillsToday.SetFontColor(kRed);
    lblKillsTotal.Create(grpKillList, "0 Kills Total", 328, 0);
    lblKillsTotal.SetFontColor(kRed);

    lvwLog.Create(grpKillList, 8, 24, 497, 185, true);
    lvwLog.AddColumn("Time", 138);
    lvwLog.AddColumn("URL", 180);
    lvwLog.AddColumn("Source", 150);
    lvwLog.OnDblClick = [this](ui::TObject* s) { lvwLogDblClick(s); };
    lvwLog.OnContextPopup = [this](ui::TObject* s, POINT at, bool byKeyboard) {
        lvwLogContextPopup(s, at, byKeyboard);
    };
    auto item = [this](ui::TMenuItem& menuItem, const char* caption,
                       void (TfrmMain::*handler)(ui::TObject*)) {
        menuItem.Caption = caption;
        if (handler) menuItem.OnClick = [this, handler](ui::TObject* s) { (this->*handler)(s); };
        mnuLogPopup.Items.push_back(&menuItem);
    };
    item(mnuOpenPopupWindow, "&Open Pop-up Window", &TfrmMain::mnuOpenPopupWindowClick);
    item(mnuCopyAddress, "&Copy Address", &TfrmMain::mnuCopyAddressClick);
    item(N3, "-", nullptr);
    item(mnuAllowWhileVisiting, "Allow Pop-up Windows While &Visiting This Site",
         &TfrmMain::mnuAllowClick);
    item(mnuAllowStartsWith, "Allow Pop-up Windows That &Start With This Address",
         &TfrmMain::mnuAllowClick);

    // Behind the list: seen only while the list is hidden for loading.
    lblLoadingHistory.Create(grpKillList, "Loading History ...", 180, 100, 150, 24);
    lblLoadingHistory.SetFont(-19, false);
    lblLoadingHistory.SetFontColor(kRed);
    lblLoadingHistory.SetVisible(false);
    SetWindowPos(lblLoadingHistory.Handle(), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // A setting shown here; the settings page code makes it and gives it its behaviour.
    CreateLogSizeBox(grpKillList);

    lblOlderNotRead.Create(grpKillList, "Older entries not read", 244, 224);
    lblOlderNotRead.SetFontColor(kRed);
    lblOlderNotRead.SetVisible(false);

    btnClearLogFile.Create(grpKillList, "Clear Log File", 384, 220, 105, 21);
    btnClearLogFile.OnClick = [this](ui::TObject* s) { btnClearLogFileClick(s); };
}

void TfrmMain::LoadHistory()
{
    lvwLog.SetVisible(false);
    lblLoadingHistory.SetVisible(true);
    // Whatever fails below, the list comes back: a counter of the wrong type must not
    // leave the page showing "Loading" for good.
    struct ShowListAgain {
        TfrmMain& form;
        ~ShowListAgain()
        {
            form.lvwLog.SetVisible(true);
            form.lblLoadingHistory.SetVisible(false);
        }
    } showListAgain{*this};
    ui::TListUpdate update(lvwLog);

    ShowKillCounters();
    // The loading label and the new counts go on the screen before the file is read.
    Repaint();

    lvwLog.Clear();
    TQuellorLogFile log(app::LogFilePath());
    ReadNewestLogRows(log);
}

void TfrmMain::ReadNewestLogRows(TQuellorLogFile& log)
{
    firstRecordShown_ = FirstRecordRead(log.RecordCount());
    lblOlderNotRead.SetVisible(firstRecordShown_ > 0);
    if (log.Seek(firstRecordShown_)) ReadLogRows(log, true);
}

void TfrmMain::ShowKillCounters()
{
    TQuellorSettings settings(false);
    settings.LoadKillCounters();
    lblKillsTotal.SetText(KillLabelText(settings.KillsToDate, "  Kills Total"));
    lblKillsToday.SetText(KillLabelText(settings.KillsToday, "  Kills Today"));
}

void TfrmMain::ReadLogRows(TQuellorLogFile& log, bool fromStart)
{
    history::TLogEntry entry;
    for (bool first = fromStart; log.ReadNext(entry); first = false) {
        if (first) logFirst_ = entry;
        lvwLog.AddItem(history::LogRowTexts(entry), EntryKey(entry));
    }
}

void TfrmMain::RefreshHistory()
{
    if (!Showing() || pageMain.ActivePage() != &tabHistory) return;
    try {
        ShowKillCounters();
    } catch (const win::EQuellorError&) {
        // A counter that cannot be read was reported when the page was entered; once is
        // enough, not once more for every kill. The labels keep what they showed.
    }

    TQuellorLogFile log(app::LogFilePath());
    if (!log.IsOpen()) return; // held by someone who shares nothing: the list stays
    const int rows = lvwLog.Count();
    // A user looking at the last row keeps seeing the newest ones.
    const bool atEnd = rows == 0 || lvwLog.TopIndex() + lvwLog.RowsPerPage() >= rows;

    // The log only grows between trims: while the first record listed is still where it
    // was read, what is new is what lies after the records already in the list, one row a
    // record, as long as the list stays within what the page reads at most.
    history::TLogEntry first;
    const uint64_t listed = static_cast<uint64_t>(rows), records = log.RecordCount();
    if (rows > 0 && records >= firstRecordShown_ + listed &&
        FirstRecordRead(records) <= firstRecordShown_ && log.Seek(firstRecordShown_) &&
        log.ReadNext(first) && SameEntry(first, logFirst_) &&
        log.Seek(firstRecordShown_ + listed)) {
        ui::TListUpdate update(lvwLog);
        ReadLogRows(log, false);
    } else {
        ReloadLogRows(log);
    }
    if (atEnd && lvwLog.Count() > 0) lvwLog.EnsureVisible(lvwLog.Count() - 1);
}

void TfrmMain::ReloadLogRows(TQuellorLogFile& log)
{
    const int selected = lvwLog.SelectedIndex(), focused = lvwLog.FocusedIndex(),
              top = lvwLog.TopIndex();
    std::vector<LPARAM> keys(static_cast<size_t>(lvwLog.Count()));
    for (size_t row = 0; row < keys.size(); ++row)
        keys[row] = lvwLog.ItemData(static_cast<int>(row));

    {
        // An error half-way leaves the rows read so far; the next refresh reads on from there.
        ui::TListUpdate update(lvwLog);
        lvwLog.Clear();
        ReadNewestLogRows(log);
    }

    // Each row's state goes where its record is now, or nowhere if it was dropped.
    const int dropped = DroppedRecords(keys, lvwLog);
    auto moved = [&](int row) {
        return row < 0 || dropped < 0 || row < dropped || row - dropped >= lvwLog.Count()
                   ? -1
                   : row - dropped;
    };
    if (moved(selected) >= 0) lvwLog.Select(moved(selected));
    if (moved(focused) >= 0) lvwLog.Focus(moved(focused));
    lvwLog.ScrollToTop(std::max(moved(top), 0));
}

void TfrmMain::lvwLogDblClick(ui::TObject*)
{
    int row = lvwLog.SelectedIndex();
    if (row < 0) return;
    std::string text = "TIME:  " + lvwLog.ItemText(row, 0) + "\r\n" +
                       "URL:   " + lvwLog.ItemText(row, 1) + "\r\n" +
                       "SRC:   " + lvwLog.ItemText(row, 2) + "\r\n";
    ui::Application().ShowMessageBox(text, ui::Application().Title, MB_OK, Handle());
}

void TfrmMain::lvwLogContextPopup(ui::TObject*, POINT at, bool byKeyboard)
{
    // A right click acts on the entry under the pointer, the keyboard on the selected one.
    int row = byKeyboard ? lvwLog.SelectedIndex() : lvwLog.RowAt(at);
    if (row < 0) return;
    if (byKeyboard)
        at = lvwLog.MenuPointOf(row);
    else if (lvwLog.SelectedIndex() != row)
        lvwLog.Select(row);

    // Kept for the item chosen: kills reported while the menu is open may move the rows.
    menuUrl_ = lvwLog.ItemText(row, 1);
    menuSource_ = lvwLog.ItemText(row, 2);
    mnuOpenPopupWindow.Enabled = history::BrowsableAddress(menuUrl_).has_value();
    mnuCopyAddress.Enabled = !menuUrl_.empty();
    // Rules of the user's own would not be used while the administrator's are the only ones.
    const bool ownRules = !Policy.OnlyAdministratorRules();
    mnuAllowWhileVisiting.Enabled = ownRules && history::SiteOf(menuSource_).has_value();
    mnuAllowStartsWith.Enabled = ownRules && history::SiteOf(menuUrl_).has_value();
    mnuLogPopup.Popup(Handle(), at.x, at.y);
}

void TfrmMain::mnuOpenPopupWindowClick(ui::TObject*)
{
    // As if the user had typed the address: the browser opens it as a window of its own,
    // not as a pop-up of a page.
    if (auto address = history::BrowsableAddress(menuUrl_)) app::ShellOpen(Handle(), *address);
}

void TfrmMain::mnuCopyAddressClick(ui::TObject*)
{
    // Greyed then: an entry without an address leaves the user's clipboard alone.
    if (menuUrl_.empty()) return;
    CopyToClipboard(Handle(), menuUrl_);
}

void TfrmMain::mnuAllowClick(ui::TObject* sender)
{
    const bool whileVisiting = sender == &mnuAllowWhileVisiting;
    if (Policy.OnlyAdministratorRules()) return;
    if (auto site = history::SiteOf(whileVisiting ? menuSource_ : menuUrl_))
        AddRuleFromHistory(whileVisiting ? rules::rkAllowWhileVisiting : rules::rkAllowStartsWith,
                           *site);
}

void TfrmMain::AddRuleFromHistory(int kind, const std::string& url)
{
    // The file is read anew rather than taken from the list, which may hold changes the
    // user has not applied: those are not for this save to make.
    const std::string path = app::RuleFilePath();
    const bool fileExisted = win::FileExists(path);
    std::vector<rules::TRule> stored;
    if (fileExisted) stored = rules::LoadRuleFile(path);
    const bool inFile = std::any_of(stored.begin(), stored.end(), [&](const rules::TRule& rule) {
        return SameRule(rule.url, rule.kind, url, kind);
    });
    if (!inFile) {
        stored.push_back({url, static_cast<rules::TRuleKind>(kind)});
        // As Apply does: LastChange first, so that a browser that reads the file between
        // its growing and its writing reads it again.
        TQuellorSettings::RenewLastChange();
        rules::SaveRuleFile(path, stored);
    }

    if (RulesChanged || RulesFileInList) {
        // The rule joins the user's unapplied changes, so that applying them keeps it.
        bool inList = false;
        for (int row = 0; row < lvwRules.Count() && !inList; ++row)
            inList = SameRule(lvwRules.ItemText(row, 0), static_cast<int>(lvwRules.ItemData(row)),
                              url, kind);
        if (!inList) {
            int row = lvwRules.AddItem({url, std::string(rules::RuleKindText(kind))}, kind);
            if (storedUrls_.size() == static_cast<size_t>(row)) storedUrls_.emplace_back();
        }
        // Without a file the list keeps those changes when the page is entered again; the
        // file made now must not change that.
        if (!fileExisted) RulesFileInList = true;
    } else if (!inFile) {
        LoadRules();
    }
}

void TfrmMain::btnClearLogFileClick(ui::TObject*)
{
    if (ui::Application().ShowMessageBox("Delete the entire history log file?", "Confirm",
                                         MB_YESNO | MB_ICONQUESTION, Handle()) != IDYES)
        return;
    // A file already gone is what was asked for; any other failure leaves the entries in
    // the file, so the list keeps them too and the user is told why.
    const std::string path = app::LogFilePath();
    if (path.empty()) throw win::EQuellorError(app::UnusableDataFolders().back());
    if (!DeleteFileA(path.c_str())) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            throw win::EQuellorError("The history log file \"" + path +
                                     "\" could not be deleted: " + win::SystemErrorText(error));
    }
    lvwLog.Clear();
    firstRecordShown_ = 0;
    lblOlderNotRead.SetVisible(false);
}

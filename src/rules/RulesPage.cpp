// The "Rules Engine" page: the rule list, the rule file and the rule editor's buttons.
#include <string>
#include <vector>

#include "app/Paths.h"
#include "app/frmMain.h"
#include "rules/RuleRecord.h"
#include "rules/frmEditRule.h"
#include "win/Files.h"

namespace {

using win::EQuellorError;

// The system's text for an error, without its line end.
std::string Reason(DWORD error)
{
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() &&
           (reason.back() == '\r' || reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    return reason.empty() ? "error " + std::to_string(error) + "." : reason;
}

DWORD Attributes(const std::string& path)
{
    return GetFileAttributesA(path.c_str());
}

bool IsReadOnly(const std::string& path)
{
    DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Reading and writing both shared: the browser helper may hold the file open. Write
// access is asked for only to save, so a file the user may only read still loads.
win::File OpenShared(const std::string& path, DWORD access, DWORD disposition)
{
    return win::File(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool Seek(HANDLE file, std::uint64_t offset)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
}

bool SetSize(HANDLE file, std::uint64_t size)
{
    return Seek(file, size) && SetEndOfFile(file);
}

bool WriteAt(HANDLE file, std::uint64_t offset, const std::string& bytes)
{
    DWORD written = 0;
    return Seek(file, offset) &&
           WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::vector<std::string> RowTexts(const std::string& url, int kind)
{
    return {url, std::string(rules::RuleKindText(kind))};
}

} // namespace

void TfrmMain::CreateRulesPage()
{
    grpRules.Create(tabRules, "Website Rules", 0, 8, 513, 249);
    lvwRules.Create(grpRules, 8, 24, 497, 185);
    // Rows stay in file order: the headers sort nothing, so they do not look clickable.
    SetWindowLongA(lvwRules.Handle(), GWL_STYLE,
                   GetWindowLongA(lvwRules.Handle(), GWL_STYLE) | LVS_NOSORTHEADER);
    lvwRules.AddColumn("Website or URL", 200);
    lvwRules.AddColumn("Rule or Constraint", 270);
    lvwRules.OnDblClick = [this](ui::TObject* s) { lvwRulesDblClick(s); };

    btnDeleteRule.Create(grpRules, "Delete Selected Rule", 16, 216, 129, 25);
    btnEditRule.Create(grpRules, "Edit Selected Rule", 196, 216, 129, 25);
    btnAddRule.Create(grpRules, "Add New Rule", 368, 216, 129, 25);
    btnDeleteRule.OnClick = [this](ui::TObject* s) { btnDeleteRuleClick(s); };
    btnEditRule.OnClick = [this](ui::TObject* s) { btnEditRuleClick(s); };
    btnAddRule.OnClick = [this](ui::TObject* s) { btnAddRuleClick(s); };
}

void TfrmMain::LoadRules()
{
    // The page just chosen is drawn before the file is read.
    pageMain.Repaint();
    const std::string path = app::RuleFilePath();
    // Until the first save there is no file, and the list keeps what it holds: there are
    // no stored rules that saving it could lose.
    if (!win::FileExists(path)) {
        RulesLoadFailed = false;
        return;
    }
    lvwRules.Clear();
    storedUrls_.clear();

    win::File file = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) {
        DWORD error = GetLastError();
        // The list no longer holds the unsaved changes, nor the file's rules: saving it
        // would empty a file the user never saw. Save refuses until a load succeeds.
        RulesChanged = false;
        RulesLoadFailed = true;
        throw EQuellorError("Cannot open the rule file \"" + path +
                            "\" for reading: " + Reason(error));
    }
    RulesLoadFailed = false;

    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) size.QuadPart = 0;
    const std::uint64_t count = rules::RuleCount(static_cast<std::uint64_t>(size.QuadPart));
    for (std::uint64_t i = 0; i < count; ++i) {
        rules::TRuleRecord record{};
        DWORD read = 0;
        // A record that cannot be read is skipped; the next one may still be.
        if (!Seek(file.get(), i * rules::kRuleRecordSize) ||
            !ReadFile(file.get(), &record, sizeof record, &read, nullptr) || read != sizeof record)
            continue;
        if (std::optional<rules::TRule> rule = rules::DecodeRule(record)) {
            int row = lvwRules.AddItem(RowTexts(rule->url, rule->kind), rule->kind);
            storedUrls_.resize(static_cast<size_t>(row) + 1);
            storedUrls_[row] = StoredUrl{rule->url, lvwRules.ItemText(row, 0)};
        }
    }
}

void TfrmMain::SaveRules()
{
    const std::string path = app::RuleFilePath();
    if (RulesLoadFailed)
        throw EQuellorError("The rules were not saved because the rule file \"" + path +
                            "\" could not be read.");
    // Rows kept in step with the list; rows put there some other way are written as shown.
    const bool stored = storedUrls_.size() == static_cast<size_t>(lvwRules.Count());
    std::string bytes;
    for (int row = 0; row < lvwRules.Count(); ++row) {
        std::string url = lvwRules.ItemText(row, 0);
        if (stored && storedUrls_[row] && storedUrls_[row]->shown == url)
            url = storedUrls_[row]->bytes;
        rules::TRuleRecord record =
            rules::EncodeRule(url, static_cast<int>(lvwRules.ItemData(row)));
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    const std::string notSaved = "The rules were not saved. The rule file \"" + path + "\" ";

    if (IsReadOnly(path)) throw EQuellorError(notSaved + "is read-only.");
    // Rewritten in place, never replaced: the browser helper may hold it open.
    win::File file = OpenShared(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (!file)
        throw EQuellorError(notSaved +
                            "could not be opened for writing: " + Reason(GetLastError()));

    LARGE_INTEGER oldSize{};
    if (!GetFileSizeEx(file.get(), &oldSize))
        throw EQuellorError(notSaved + "could not be read: " + Reason(GetLastError()));
    const std::uint64_t before = static_cast<std::uint64_t>(oldSize.QuadPart);
    const std::uint64_t after = bytes.size();

    // Growing first claims the disk space, so a full disk stops the save before any old
    // rule is overwritten; a failed write then gives the file its old length back.
    if (after > before && !SetSize(file.get(), after)) {
        DWORD error = GetLastError();
        SetSize(file.get(), before);
        throw EQuellorError(notSaved + "could not be enlarged: " + Reason(error));
    }
    if (!WriteAt(file.get(), 0, bytes)) {
        DWORD error = GetLastError();
        if (after > before) SetSize(file.get(), before);
        throw EQuellorError(notSaved + "could not be written: " + Reason(error));
    }
    if (after < before && !SetSize(file.get(), after)) {
        // Cut short by someone holding the file mapped: blank the old records after ours,
        // whose kind byte 0 every reader skips, so deleted rules cannot come back.
        DWORD error = GetLastError();
        bool blanked = WriteAt(file.get(), after, std::string(before - after, '\0'));
        throw EQuellorError("The rule file \"" + path +
                            "\" could not be shortened: " + Reason(error) +
                            (blanked ? " The rules were saved and the records after them blanked."
                                     : " Rules deleted since the last save may still be in it."));
    }
    RulesChanged = false;
}

void TfrmMain::btnAddRuleClick(ui::TObject*)
{
    TfrmEditRule editor(Handle());
    if (editor.ShowModal() != ui::mrOk) return;
    RulesChanged = true;
    btnApply.SetEnabled(true);
    int kind = editor.KindCode();
    int row = lvwRules.AddItem(RowTexts(editor.txtURL.Text(), kind), kind);
    if (storedUrls_.size() == static_cast<size_t>(row)) storedUrls_.emplace_back();
}

void TfrmMain::btnEditRuleClick(ui::TObject*)
{
    int row = lvwRules.SelectedIndex();
    if (row < 0) return;
    const std::string url = lvwRules.ItemText(row, 0);
    const LPARAM code = lvwRules.ItemData(row);
    TfrmEditRule editor(Handle());
    editor.txtURL.SetText(url);
    editor.SetKindCode(static_cast<int>(code));
    if (editor.ShowModal() != ui::mrOk) return;
    // The tray menu can reload the list while the editor is open; the edit then belongs
    // to a row that is gone with the other unsaved changes, and must not land on another.
    if (row >= lvwRules.Count() || lvwRules.ItemText(row, 0) != url ||
        lvwRules.ItemData(row) != code)
        return;
    RulesChanged = true;
    btnApply.SetEnabled(true);
    int kind = editor.KindCode();
    lvwRules.SetItem(row, RowTexts(editor.txtURL.Text(), kind), kind);
    // Edited: written as the editor gave it.
    if (static_cast<size_t>(row) < storedUrls_.size()) storedUrls_[row].reset();
}

void TfrmMain::lvwRulesDblClick(ui::TObject* sender)
{
    btnEditRuleClick(sender);
}

void TfrmMain::btnDeleteRuleClick(ui::TObject*)
{
    int row = lvwRules.SelectedIndex();
    if (row < 0) return;
    lvwRules.DeleteItem(row);
    if (static_cast<size_t>(row) < storedUrls_.size()) storedUrls_.erase(storedUrls_.begin() + row);
    RulesChanged = true;
    btnApply.SetEnabled(true);
}

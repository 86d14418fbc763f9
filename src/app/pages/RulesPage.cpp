// The "Rules Engine" page: the rule list and the rule editor's buttons. The file itself is
// read and written by rules/RuleFile; the page moves rows between it and the list. The
// administrator's rules (Group Policy) come first, marked, and are never edited or saved.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Paths.h"
#include "app/frmMain.h"
#include "app/pages/frmEditRule.h"
#include "rules/RuleFile.h"
#include "win/Files.h"

namespace {

std::vector<std::string> RowTexts(const std::string& url, int kind)
{
    return {url, std::string(rules::RuleKindText(kind))};
}

// The columns' widths; a third one, while the administrator has rules, says whose they are.
constexpr int kUrlWidth = 200, kKindWidth = 270;
constexpr int kSetByWidth = 70, kKindWidthBeside = 250;
constexpr int kUrlWidthBeside = kUrlWidth + kKindWidth - kKindWidthBeside - kSetByWidth;
constexpr char kSetByAdministrator[] = "Organisation";

} // namespace

void TfrmMain::CreateRulesPage()
{
    grpRules.Create(tabRules, "Website Rules", 0, 8, 513, 249);
    lvwRules.Create(grpRules, 8, 24, 497, 185);
    // Rows stay in file order: the headers sort nothing, so they do not look clickable.
    SetWindowLongA(lvwRules.Handle(), GWL_STYLE,
                   GetWindowLongA(lvwRules.Handle(), GWL_STYLE) | LVS_NOSORTHEADER);
    lvwRules.AddColumn("Website or URL", kUrlWidth);
    lvwRules.AddColumn("Rule or Constraint", kKindWidth);
    lvwRules.OnDblClick = [this](ui::TObject* s) { lvwRulesDblClick(s); };
    lvwRules.OnChange = [this](ui::TObject* s) { lvwRulesChange(s); };

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
    OwnRulesListed = !Policy.OnlyAdministratorRules();
    // Until the first save there is no file, and the list keeps the user's rows it holds:
    // there are no stored rules that saving it could lose. Nor are there when the only ones
    // stored came from the History Log's menu, which put them in the list as well.
    const bool keepList = OwnRulesListed && (!win::FileExists(path) || RulesFileInList);
    std::vector<std::pair<std::vector<std::string>, LPARAM>> kept;
    std::vector<std::optional<StoredUrl>> keptUrls;
    for (int row = 0; keepList && row < lvwRules.Count(); ++row) {
        if (IsAdministratorRule(row)) continue;
        kept.push_back(
            {{lvwRules.ItemText(row, 0), lvwRules.ItemText(row, 1)}, lvwRules.ItemData(row)});
        keptUrls.push_back(static_cast<size_t>(row) < storedUrls_.size() ? storedUrls_[row]
                                                                         : std::nullopt);
    }
    lvwRules.Clear();
    storedUrls_.clear();

    // The administrator's rules, the computer's first, as they are judged.
    const bool administered = Policy.HasRules();
    if (administered != (lvwRules.ColumnCount() == 3)) {
        if (administered)
            lvwRules.AddColumn("Set By", kSetByWidth);
        else
            lvwRules.DeleteColumn(2);
        lvwRules.SetColumnWidth(0, administered ? kUrlWidthBeside : kUrlWidth);
        lvwRules.SetColumnWidth(1, administered ? kKindWidthBeside : kKindWidth);
    }
    for (auto scope : {TQuellorPolicy::psComputer, TQuellorPolicy::psUser})
        for (const rules::TRule& rule : Policy.Rules(scope)) {
            std::vector<std::string> texts = RowTexts(rule.url, rule.kind);
            texts.push_back(kSetByAdministrator);
            lvwRules.AddItem(texts, rule.kind | kAdministratorRule);
            storedUrls_.emplace_back();
        }
    btnAddRule.SetEnabled(OwnRulesListed);
    lvwRulesChange(&lvwRules);

    if (!OwnRulesListed || keepList) {
        // The user's rules are not used: nothing of the list may be saved over them.
        if (!OwnRulesListed) RulesChanged = false;
        for (size_t i = 0; i < kept.size(); ++i) {
            lvwRules.AddItem(kept[i].first, kept[i].second);
            storedUrls_.push_back(keptUrls[i]);
        }
        RulesLoadFailed = false;
        return;
    }

    std::vector<rules::TRule> rows;
    try {
        rows = rules::LoadRuleFile(path);
    } catch (const win::EQuellorError&) {
        // The list no longer holds the unsaved changes, nor the file's rules: saving it
        // would empty a file the user never saw. Save refuses until a load succeeds.
        RulesChanged = false;
        RulesLoadFailed = true;
        throw;
    }
    RulesLoadFailed = false;
    for (const rules::TRule& rule : rows) {
        int row = lvwRules.AddItem(RowTexts(rule.url, rule.kind), rule.kind);
        storedUrls_.resize(static_cast<size_t>(row) + 1);
        storedUrls_[row] = StoredUrl{rule.url, lvwRules.ItemText(row, 0)};
    }
}

void TfrmMain::SaveRules()
{
    const std::string path = app::RuleFilePath();
    if (RulesLoadFailed)
        throw win::EQuellorError("The rules were not saved because the rule file \"" + path +
                                 "\" could not be read.");
    if (!OwnRulesListed) {
        RulesChanged = false;
        return;
    }
    // Rows kept in step with the list; rows put there some other way are written as shown.
    const bool stored = storedUrls_.size() == static_cast<size_t>(lvwRules.Count());
    std::vector<rules::TRule> rows;
    for (int row = 0; row < lvwRules.Count(); ++row) {
        if (IsAdministratorRule(row)) continue;
        std::string url = lvwRules.ItemText(row, 0);
        if (stored && storedUrls_[row] && storedUrls_[row]->shown == url)
            url = storedUrls_[row]->bytes;
        rows.push_back({std::move(url), static_cast<rules::TRuleKind>(lvwRules.ItemData(row))});
    }
    rules::SaveRuleFile(path, rows);
    RulesChanged = false;
    RulesFileInList = false;
}

void TfrmMain::btnAddRuleClick(ui::TObject*)
{
    if (!OwnRulesListed) return;
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
    if (row < 0 || IsAdministratorRule(row)) return;
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

void TfrmMain::lvwRulesChange(ui::TObject*)
{
    const bool editable = !IsAdministratorRule(lvwRules.SelectedIndex());
    btnEditRule.SetEnabled(editable);
    btnDeleteRule.SetEnabled(editable);
}

bool TfrmMain::IsAdministratorRule(int row) const
{
    return row >= 0 && row < lvwRules.Count() && (lvwRules.ItemData(row) & kAdministratorRule);
}

void TfrmMain::btnDeleteRuleClick(ui::TObject*)
{
    int row = lvwRules.SelectedIndex();
    if (row < 0 || IsAdministratorRule(row)) return;
    lvwRules.DeleteItem(row);
    if (static_cast<size_t>(row) < storedUrls_.size()) storedUrls_.erase(storedUrls_.begin() + row);
    RulesChanged = true;
    btnApply.SetEnabled(true);
}

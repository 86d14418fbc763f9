// Adding, editing and deleting rules through the buttons, the list and the modal editor.
#include <gtest/gtest.h>

#include "RulesFixture.h"

namespace {

using RuleRows = std::vector<RuleRow>;

struct EditorState {
    std::string url;
    int index = -1;
};

EditorScript::Step Capture(EditorState& state)
{
    return [&state](TfrmEditRule& editor) {
        state.url = editor.txtURL.Text();
        state.index = editor.cboRules.ItemIndex();
    };
}

EditorScript::Step Fill(const std::string& url, int index)
{
    return [url, index](TfrmEditRule& editor) {
        Type(editor, url);
        Choose(editor, index);
    };
}

EditorScript::Step PressSave()
{
    return [](TfrmEditRule& e) { Press(e.btnSave); };
}
EditorScript::Step PressCancel()
{
    return [](TfrmEditRule& e) { Press(e.btnCancel); };
}

} // namespace

class RulesEditorTest : public RulesTest {
protected:
    void SetUp() override
    {
        RulesTest::SetUp();
        ShowRulesPage();
    }

    // Row -1: the empty space below the rows.
    void DoubleClickRow(int row)
    {
        int count = form->lvwRules.Count();
        RECT r{LVIR_BOUNDS};
        SendMessageA(form->lvwRules.Handle(), LVM_GETITEMRECT, row < 0 ? count - 1 : row,
                     reinterpret_cast<LPARAM>(&r));
        int y = row < 0 ? r.bottom + 30 : (r.top + r.bottom) / 2;
        PostMessageA(form->lvwRules.Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON,
                     MAKELPARAM(r.left + 20, y));
    }
};

TEST_F(RulesEditorTest, EditorIsASmallFixedDialogCentredOverTheWindow)
{
    struct {
        std::string caption;
        RECT client{}, window{};
        LONG style = 0, exStyle = 0;
        HWND owner = nullptr, focus = nullptr;
        std::vector<std::string> kinds;
        int index = -1;
        LONG comboStyle = 0;
        std::vector<HWND> tabOrder, expectedOrder;
        bool icon = true;
        bool defaultButton = true;
    } seen;
    EditorScript script({[&](TfrmEditRule& e) {
                             HWND h = e.Handle();
                             seen.caption = e.Text();
                             GetClientRect(h, &seen.client);
                             GetWindowRect(h, &seen.window);
                             seen.style = GetWindowLongA(h, GWL_STYLE);
                             seen.exStyle = GetWindowLongA(h, GWL_EXSTYLE);
                             seen.owner = GetWindow(h, GW_OWNER);
                             seen.focus = GetFocus();
                             for (int i = 0; i < e.cboRules.Count(); ++i)
                                 seen.kinds.push_back(e.cboRules.Item(i));
                             seen.index = e.cboRules.ItemIndex();
                             seen.comboStyle = GetWindowLongA(e.cboRules.Handle(), GWL_STYLE);
                             seen.icon = GetClassLongPtrA(h, GCLP_HICON) ||
                                         SendMessageA(h, WM_GETICON, ICON_SMALL, 0) ||
                                         SendMessageA(h, WM_GETICON, ICON_BIG, 0);
                             seen.expectedOrder = {e.txtURL.Handle(), e.cboRules.Handle(),
                                                   e.btnCancel.Handle(), e.btnSave.Handle()};
                             HWND item = e.txtURL.Handle();
                             for (int i = 0; i < 4; ++i, item = GetNextDlgTabItem(h, item, FALSE))
                                 seen.tabOrder.push_back(item);
                             seen.defaultButton = false;
                             for (ui::TButton* b : {&e.btnSave, &e.btnCancel}) {
                                 LONG s = GetWindowLongA(b->Handle(), GWL_STYLE);
                                 seen.defaultButton |= (s & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
                             }
                         },
                         CloseBox});
    Click(form->btnAddRule, script);

    ASSERT_EQ(script.opened, 1);
    EXPECT_FALSE(script.timedOut);
    EXPECT_EQ(seen.caption, "Edit Rule");
    EXPECT_EQ(seen.client.right, 443);
    EXPECT_EQ(seen.client.bottom, 201);
    EXPECT_TRUE(seen.style & WS_SYSMENU);
    EXPECT_FALSE(seen.style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(seen.exStyle & WS_EX_DLGMODALFRAME);
    EXPECT_FALSE(seen.icon) << "no icon in the caption";
    EXPECT_EQ(seen.owner, form->Handle());
    RECT main{};
    GetWindowRect(form->Handle(), &main);
    EXPECT_LE(std::abs((seen.window.left + seen.window.right) - (main.left + main.right)), 2);
    EXPECT_LE(std::abs((seen.window.top + seen.window.bottom) - (main.top + main.bottom)), 2);
    EXPECT_EQ(seen.kinds, std::vector<std::string>(kKindText + 1, kKindText + 5));
    EXPECT_EQ(seen.index, 0);
    EXPECT_EQ(seen.comboStyle & 3, CBS_DROPDOWNLIST);
    EXPECT_FALSE(seen.comboStyle & CBS_SORT);
    EXPECT_FALSE(seen.defaultButton);
    EXPECT_EQ(seen.tabOrder, seen.expectedOrder);
    EXPECT_EQ(seen.focus, seen.expectedOrder[0]) << "the URL box has the focus";
    EXPECT_EQ(FindWindowA("TfrmEditRule", nullptr), nullptr) << "destroyed after use";
    EXPECT_TRUE(Rows().empty());
}

TEST_F(RulesEditorTest, AddThenCancelCloseBoxOrKeysChangesNothing)
{
    const struct {
        const char* name;
        std::vector<EditorScript::Step> steps;
    } ways[] = {
        {"Cancel", {Fill("x.com", 2), PressCancel()}},
        {"close box", {Fill("x.com", 2), CloseBox}},
        // Neither button is the default or bound to Escape: the keys close nothing.
        {"Enter and Escape, then Cancel",
         {Fill("x.com", 2),
          [](TfrmEditRule& e) {
              for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
                  PostMessageA(e.txtURL.Handle(), WM_KEYDOWN, key, 0);
                  PostMessageA(e.txtURL.Handle(), WM_KEYUP, key, 0xC0000000);
              }
          },
          [](TfrmEditRule&) {}, PressCancel()}},
    };
    for (bool changedBefore : {false, true}) {
        for (const auto& way : ways) {
            SCOPED_TRACE(std::string(way.name) + (changedBefore ? ", changed before" : ""));
            SetRows({Row("a.com", 1)});
            form->RulesChanged = changedBefore;
            form->btnApply.SetEnabled(changedBefore);
            EditorScript script(way.steps);
            Click(form->btnAddRule, script);
            EXPECT_EQ(script.opened, 1);
            EXPECT_FALSE(script.timedOut);
            EXPECT_EQ(Rows(), RuleRows{Row("a.com", 1)});
            EXPECT_EQ(form->RulesChanged, changedBefore);
            EXPECT_EQ(form->btnApply.Enabled(), changedBefore);
        }
    }
}

TEST_F(RulesEditorTest, SaveAppendsTheRuleAsTypedAndApplyWritesIt)
{
    WriteRuleFile(Record("a.com", 1));
    ClickTab(form->tabRules);
    const std::string url300(300, 'q');
    const struct {
        std::string url;
        int index;
    } adds[] = {{" spaced.com ", 2}, {"", 0}, {" spaced.com ", 2}, {url300, 3}};
    RuleRows expected = {Row("a.com", 1)};
    for (const auto& add : adds) {
        EditorScript script({Fill(add.url, add.index), PressSave()});
        Click(form->btnAddRule, script);
        ASSERT_EQ(script.opened, 1);
        expected.push_back(Row(add.url, add.index + 1));
        EXPECT_EQ(Rows(), expected);
        EXPECT_TRUE(form->RulesChanged);
        EXPECT_TRUE(form->btnApply.Enabled());
    }
    EXPECT_EQ(RuleFile(), Record("a.com", 1)) << "nothing written before Apply";

    Press(form->btnApply);
    Pump();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(RuleFile(), Record("a.com", 1) + Record(" spaced.com ", 3) + Record("", 1) +
                              Record(" spaced.com ", 3) + Record(url300.substr(0, 255), 4));
}

TEST_F(RulesEditorTest, EditWithNoSelectionOpensNothing)
{
    SetRows({Row("a.com", 1), Row("b.com", 2)});
    EditorScript script({});
    Click(form->btnEditRule, script);
    DoubleClickRow(-1);
    Pump(300);
    EXPECT_EQ(script.opened, 0);
    EXPECT_FALSE(form->RulesChanged);
    EXPECT_EQ(Rows(), (RuleRows{Row("a.com", 1), Row("b.com", 2)}));
}

TEST_F(RulesEditorTest, EditShowsTheRowAndReplacesItInPlace)
{
    // Longer than the file keeps: the list holds it whole until Apply.
    const std::string longUrl = "kill.me/" + std::string(2000, 'k');
    const RuleRows start = {Row("a.com", 1), Row(longUrl, 4), Row("c.com", 2)};
    SetRows(start);
    form->lvwRules.Select(1);

    // Cancel: nothing changes.
    EditorState shown;
    EditorScript cancel({Capture(shown), Fill("other", 0), PressCancel()});
    Click(form->btnEditRule, cancel);
    EXPECT_EQ(shown.url, longUrl);
    EXPECT_EQ(shown.index, 3) << "kind 4 preselects its text";
    EXPECT_EQ(Rows(), start);
    EXPECT_FALSE(form->RulesChanged);
    EXPECT_FALSE(form->btnApply.Enabled());

    // Save without a change: the same row, but marked as changed.
    EditorScript same({PressSave()});
    Click(form->btnEditRule, same);
    EXPECT_EQ(same.opened, 1);
    EXPECT_EQ(Rows(), start);
    EXPECT_TRUE(form->RulesChanged);
    EXPECT_TRUE(form->btnApply.Enabled());

    // A double-click edits the selected row; another kind changes text and code.
    EditorScript change({Fill("allow.me/", 1), PressSave()});
    DoubleClickRow(1);
    testsupport::PumpUntil(
        [&] { return change.Finished() && !FindWindowA("TfrmEditRule", nullptr); }, 10000);
    EXPECT_EQ(change.opened, 1);
    EXPECT_EQ(Rows(), (RuleRows{Row("a.com", 1), Row("allow.me/", 2), Row("c.com", 2)}));
}

TEST_F(RulesEditorTest, EditorStartsAfreshEachTime)
{
    EditorScript first({Fill("typed.com", 3), PressCancel()});
    Click(form->btnAddRule, first);
    EditorState shown;
    EditorScript second({Capture(shown), PressCancel()});
    Click(form->btnAddRule, second);
    EXPECT_EQ(second.opened, 1);
    EXPECT_EQ(shown.url, "");
    EXPECT_EQ(shown.index, 0);
}

TEST_F(RulesEditorTest, AnEditDoesNotLandOnAnotherRowAfterAReload)
{
    // The tray menu reloads the list while the editor is open over it.
    SetRows({Row("a.com", 1), Row("unsaved.com", 3)});
    form->lvwRules.Select(1);
    EditorScript script({[&](TfrmEditRule&) {
                             WriteRuleFile(Record("p.com", 2) + Record("q.com", 4));
                             form->mnuRulesEngine.Click();
                         },
                         Fill("edited.com", 0), PressSave()});
    Click(form->btnEditRule, script);
    EXPECT_EQ(script.opened, 1);
    EXPECT_EQ(Rows(), (RuleRows{Row("p.com", 2), Row("q.com", 4)}));
}

TEST_F(RulesEditorTest, DeleteRemovesTheSelectedRowAtOnce)
{
    const std::string stored = Record("a.com", 1) + Record("b.com", 2);
    WriteRuleFile(stored);
    ClickTab(form->tabRules);

    Press(form->btnDeleteRule); // nothing selected
    Pump();
    EXPECT_EQ(Rows().size(), 2u);
    EXPECT_FALSE(form->RulesChanged);

    form->lvwRules.Select(0);
    Press(form->btnDeleteRule);
    Pump();
    EXPECT_TRUE(boxes.empty()) << "no question";
    EXPECT_EQ(Rows(), RuleRows{Row("b.com", 2)});
    EXPECT_TRUE(form->RulesChanged);
    EXPECT_TRUE(form->btnApply.Enabled());

    // Cancel on the window drops the deletion; the file is untouched.
    Press(form->btnCancel);
    Pump();
    EXPECT_EQ(RuleFile(), stored);
    EXPECT_FALSE(form->RulesChanged);
}

// The administrator's rules come first, the computer's before the user policy's, marked in a
// column of their own; they cannot be edited or deleted and are never saved with the user's.
// While they are the only ones used, the user's are neither listed, added nor saved.
TEST_F(RulesEditorTest, TheAdministratorsRulesComeFirstMarkedAndAreNeverEditedOrSaved)
{
    testsupport::PolicyKeys policy;
    policy.AddRule(HKEY_CURRENT_USER, "AllowStartingWith", "partner.example/");
    policy.AddRule(HKEY_LOCAL_MACHINE, "CloseWhileVisiting", "ads.example");
    policy.Set(HKEY_LOCAL_MACHINE, "CloseStartingWith\\odd", REG_DWORD, std::string(4, '\1'));
    WriteRuleFile(Record("mine.example", 1) + Record("yours.example", 4));
    auto reshow = [&] {
        form->Hide();
        ShowRulesPage();
    };
    reshow();
    auto ruled = [](const std::string& url, int kind) {
        return RuleRow{url, kKindText[kind], kind | TfrmMain::kAdministratorRule};
    };
    const RuleRows listed = {ruled("ads.example", 3), ruled("partner.example/", 2),
                             Row("mine.example", 1), Row("yours.example", 4)};
    EXPECT_EQ(Rows(), listed);
    ASSERT_EQ(form->lvwRules.ColumnCount(), 3);
    EXPECT_EQ(testsupport::ReadListColumn(form->lvwRules.Handle(), 2).text, "Set By");
    EXPECT_EQ(form->lvwRules.ItemText(1, 2), "Organisation");
    EXPECT_EQ(form->lvwRules.ItemText(2, 2), "");
    EXPECT_TRUE(form->lblManaged.Visible());

    // Greyed while one is selected; their handlers refuse all the same.
    form->lvwRules.Select(1);
    EXPECT_FALSE(form->btnEditRule.Enabled());
    EXPECT_FALSE(form->btnDeleteRule.Enabled());
    EditorScript none({});
    Click(form->btnEditRule, none);
    DoubleClickRow(1);
    Press(form->btnDeleteRule);
    Pump(300);
    EXPECT_EQ(none.opened, 0);
    EXPECT_EQ(Rows(), listed);
    form->lvwRules.Select(3);
    EXPECT_TRUE(form->btnDeleteRule.Enabled());
    Press(form->btnDeleteRule);
    Pump();
    form->btnApply.Click();
    EXPECT_EQ(RuleFile(), Record("mine.example", 1)) << "the user's own rules alone";

    // Without a file the list keeps the user's rows, under the administrator's once.
    DeleteFileA(RulePath().c_str());
    ClickTab(form->tabDefault);
    ClickTab(form->tabRules);
    EXPECT_EQ(Rows(), (RuleRows{listed[0], listed[1], listed[2]}));
    WriteRuleFile(Record("mine.example", 1));

    policy.SetDword(HKEY_CURRENT_USER, "OnlyAdministratorRules", 1);
    reshow();
    EXPECT_EQ(Rows(), (RuleRows{listed[0], listed[1]}));
    EXPECT_FALSE(form->btnAddRule.Enabled());
    EditorScript add({});
    Click(form->btnAddRule, add);
    EXPECT_EQ(add.opened, 0);
    form->RulesChanged = true;
    form->btnApply.Click();
    EXPECT_EQ(RuleFile(), Record("mine.example", 1)) << "never emptied";

    // No policy: the page as it always was.
    policy.Clear();
    reshow();
    EXPECT_EQ(Rows(), RuleRows{Row("mine.example", 1)});
    EXPECT_EQ(form->lvwRules.ColumnCount(), 2);
    EXPECT_EQ(testsupport::ReadListColumn(form->lvwRules.Handle(), 0).width, 200);
    EXPECT_TRUE(form->btnAddRule.Enabled());
    EXPECT_FALSE(form->lblManaged.Visible());
}

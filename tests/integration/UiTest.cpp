// The component layer through real windows: events raised by users' actions and by code.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ui/Application.h"
#include "ui/Controls.h"

namespace {

struct Counter {
    int count = 0;
    ui::TObject* sender = nullptr;
    ui::TNotifyEvent Handler()
    {
        return [this](ui::TObject* s) {
            ++count;
            sender = s;
        };
    }
};

class TestForm : public ui::TForm {
public:
    TestForm()
    {
        CreateForm("TQuellorTestForm", "Test", 400, 300, ui::Application().Handle(), false, false);
        pages.Create(*this, 0, 0, 400, 250, 100);
        tab1.Create(pages, "One");
        tab2.Create(pages, "Two");
        group.Create(tab1, "Group", 0, 0, 380, 200);
        check.Create(group, "Check", 8, 20, 100, 17);
        edit.Create(group, 8, 40, 100, 21);
        updown.Create(group, edit, 108, 40, 16, 21);
        list.Create(tab2, 0, 0, 300, 150);
        label.Create(group, "Label", 8, 70);
        ok.Create(*this, "OK", 200, 260, 65, 25);
        cancel.Create(*this, "Cancel", 300, 260, 65, 25);
        timer.Create(*this, 100, false);
    }
    ~TestForm() override { Destroy(); }
    ui::TPageControl pages;
    ui::TTabSheet tab1, tab2;
    ui::TGroupBox group;
    ui::TCheckBox check;
    ui::TEdit edit;
    ui::TUpDown updown;
    ui::TListView list;
    ui::TLabel label;
    ui::TButton ok, cancel;
    ui::TTimer timer;
};

void ClickFromOutside(ui::TControl& control, WORD code)
{
    // What a user's click sends: the notification to the control's parent.
    SendMessageA(GetParent(control.Handle()), WM_COMMAND,
                 MAKEWPARAM(GetDlgCtrlID(control.Handle()), code),
                 reinterpret_cast<LPARAM>(control.Handle()));
}

} // namespace

TEST(Ui, CheckBoxRaisesClickForUsersAndForCodeThatChangesIt)
{
    TestForm form;
    Counter clicks;
    form.check.OnClick = clicks.Handler();

    form.check.SetChecked(true);
    EXPECT_EQ(clicks.count, 1);
    EXPECT_EQ(clicks.sender, &form.check);
    form.check.SetChecked(true); // no change, no event
    EXPECT_EQ(clicks.count, 1);

    SendMessageA(form.check.Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks.count, 2);
    EXPECT_FALSE(form.check.Checked());
}

TEST(Ui, EditRaisesChangeAndFiltersTypedCharacters)
{
    TestForm form;
    Counter changes;
    form.edit.OnChange = changes.Handler();
    form.edit.SetText("12");
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(changes.sender, &form.edit);

    form.edit.OnKeyPress = [](ui::TObject*, char& key) {
        if (key == 'x') key = 0;
        if (key == 'a') key = 'b';
    };
    form.edit.SetText("");
    for (char c : std::string("1x2a")) SendMessageA(form.edit.Handle(), WM_CHAR, c, 0);
    EXPECT_EQ(form.edit.Text(), "12b");
}

TEST(Ui, UpDownStepsItsBuddyWithinTheRange)
{
    TestForm form;
    form.updown.SetRange(0, 300);
    form.updown.SetIncrement(100);
    form.updown.SetPosition(200);
    EXPECT_EQ(form.edit.Text(), "200");
    Counter changes;
    form.edit.OnChange = changes.Handler();

    SendMessageA(form.updown.Handle(), WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(form.edit.Text(), "300");
    SendMessageA(form.updown.Handle(), WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(form.edit.Text(), "300") << "no wrap at the top";
    EXPECT_GE(changes.count, 1);
    form.edit.SetText("150");
    EXPECT_EQ(form.updown.Position(), 150) << "position taken from the text";
}

TEST(Ui, PageChangeEventOnlyForTheUsersChoice)
{
    TestForm form;
    Counter changes;
    form.pages.OnChange = changes.Handler();
    form.pages.SetActivePage(form.tab2);
    EXPECT_EQ(changes.count, 0);
    EXPECT_TRUE(form.tab2.Visible());
    EXPECT_FALSE(form.tab1.Visible());

    // A click on a tab: the control selects it and notifies its parent.
    SendMessageA(form.pages.Handle(), TCM_SETCURSEL, 0, 0);
    NMHDR header{form.pages.Handle(), 0, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageA(form.Handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(form.pages.ActivePage(), &form.tab1);
    EXPECT_TRUE(form.tab1.Visible());
    EXPECT_FALSE(form.tab2.Visible());

    RECT tab{};
    SendMessageA(form.pages.Handle(), TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&tab));
    EXPECT_EQ(tab.right - tab.left, 100);
}

TEST(Ui, ListViewKeepsRowsDataAndSelection)
{
    TestForm form;
    form.list.AddColumn("A", 100);
    form.list.AddColumn("B", 100);
    EXPECT_EQ(form.list.ColumnCount(), 2);
    EXPECT_EQ(form.list.AddItem({"a0", "b0"}, 10), 0);
    EXPECT_EQ(form.list.AddItem({"a1", "b1"}, 20), 1);
    EXPECT_EQ(form.list.SelectedIndex(), -1);
    form.list.Select(1);
    EXPECT_EQ(form.list.SelectedIndex(), 1);
    form.list.SetItem(1, {"c1", "d1"}, 30);
    EXPECT_EQ(form.list.ItemText(1, 0), "c1");
    EXPECT_EQ(form.list.ItemText(1, 1), "d1");
    EXPECT_EQ(form.list.ItemData(1), 30);
    form.list.Select(0);
    EXPECT_EQ(form.list.SelectedIndex(), 0) << "single selection";
    form.list.DeleteItem(0);
    EXPECT_EQ(form.list.Count(), 1);
    EXPECT_EQ(form.list.ItemText(0, 0), "c1");

    Counter doubleClicks;
    form.list.OnDblClick = doubleClicks.Handler();
    NMITEMACTIVATE activate{};
    activate.hdr = {form.list.Handle(), 0, static_cast<UINT>(NM_DBLCLK)};
    SendMessageA(GetParent(form.list.Handle()), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&activate));
    EXPECT_EQ(doubleClicks.count, 1);
    form.list.Clear();
    EXPECT_EQ(form.list.Count(), 0);
}

TEST(Ui, LabelClickAndButtonsCloseAModalForm)
{
    TestForm form;
    Counter labelClicks;
    form.label.OnClick = labelClicks.Handler();
    ClickFromOutside(form.label, STN_CLICKED);
    EXPECT_EQ(labelClicks.count, 1);
    RECT r = form.label.Bounds();
    EXPECT_GT(r.right - r.left, 10) << "sized to its caption";

    form.ok.ModalResult = ui::mrOk;
    Counter okClicks;
    form.ok.OnClick = okClicks.Handler();
    PostMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
                 reinterpret_cast<LPARAM>(form.ok.Handle()));
    EXPECT_EQ(form.ShowModal(), ui::mrOk);
    EXPECT_EQ(okClicks.count, 1);
    EXPECT_FALSE(form.Visible());

    // The close box gives Cancel.
    PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(form.ShowModal(), ui::mrCancel);
    EXPECT_FALSE(ui::Application().Terminated());
}

TEST(Ui, TimerTicksWhileEnabledAndEnablingTwiceDoesNotRestartIt)
{
    TestForm form;
    Counter ticks;
    form.timer.OnTimer = ticks.Handler();
    form.timer.SetEnabled(true);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return ticks.count >= 2; }, 2000));
    form.timer.SetEnabled(false);
    int stopped = ticks.count;
    testsupport::PumpFor(300);
    EXPECT_EQ(ticks.count, stopped);

    // Re-enabling every 50 ms must not hold the 100 ms timer off.
    ticks.count = 0;
    form.timer.SetEnabled(true);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 600) {
        form.timer.SetEnabled(true);
        testsupport::PumpFor(50);
    }
    EXPECT_GE(ticks.count, 2);
}

TEST(Ui, AnErrorInAnEventGoesToTheErrorHandlerNotThroughTheWindow)
{
    TestForm form;
    std::vector<std::string> shown;
    ui::Application().MessageBoxHook = [&](HWND, const std::string& text, const std::string&, UINT) {
        shown.push_back(text);
        return IDOK;
    };
    form.check.OnClick = [](ui::TObject*) { throw win::EQuellorError("Broken"); };
    SendMessageA(form.check.Handle(), BM_CLICK, 0, 0);
    ui::Application().MessageBoxHook = nullptr;
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Broken.");
}

namespace {

struct DialogScript {
    std::string typed;   // file name to type, or empty to cancel
    std::string caption; // seen
    bool seen = false;
};
DialogScript* g_dialog = nullptr;

void CALLBACK AnswerFileDialog(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = FindWindowA("#32770", nullptr);
    if (!dialog || !IsWindowVisible(dialog) || !g_dialog || g_dialog->seen) return;
    g_dialog->seen = true;
    KillTimer(nullptr, id);
    char caption[128] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    g_dialog->caption = caption;
    if (g_dialog->typed.empty()) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    // The file name box of the explorer-style dialog (cmb13, or edt1 in older layouts).
    HWND box = GetDlgItem(dialog, 0x47C);
    if (!box) box = GetDlgItem(dialog, 0x480);
    HWND edit = FindWindowExA(box, nullptr, "Edit", nullptr);
    SendMessageA(edit ? edit : box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(g_dialog->typed.c_str()));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

} // namespace

TEST(Ui, OpenDialogTakesTitleAndAcceptsANewFileName)
{
    TestForm form;
    std::string folder = testsupport::FreshFolder("dialog");
    ui::TOpenDialog dialog;
    dialog.Filter = "Sound files (*.wav)|*.WAV";
    dialog.Title = "Pick One";
    dialog.InitialDir = folder;

    DialogScript script{folder + "not there yet.wav"};
    g_dialog = &script;
    UINT_PTR timer = SetTimer(nullptr, 0, 100, AnswerFileDialog);
    bool chosen = dialog.Execute(form.Handle());
    KillTimer(nullptr, timer);
    ASSERT_TRUE(script.seen);
    EXPECT_EQ(script.caption, "Pick One");
    EXPECT_TRUE(chosen);
    EXPECT_EQ(dialog.FileName, folder + "not there yet.wav");

    DialogScript cancel{""};
    g_dialog = &cancel;
    timer = SetTimer(nullptr, 0, 100, AnswerFileDialog);
    EXPECT_FALSE(dialog.Execute(form.Handle()));
    KillTimer(nullptr, timer);
    g_dialog = nullptr;
    EXPECT_TRUE(cancel.seen);
}

TEST(Ui, ImagesMemosAndGroupsShowWhatTheyAreGiven)
{
    TestForm form;
    HICON icon = LoadIconA(nullptr, IDI_APPLICATION);
    ui::TImage image;
    image.Create(form.group, 200, 20, 32, 32, icon);
    EXPECT_EQ(image.Icon(), icon);
    RECT r = image.Bounds();
    EXPECT_EQ(r.right - r.left, 32);

    ui::TMemo memo;
    memo.Create(form.group, 8, 100, 200, 60);
    memo.SetLines({"one", "", "three "});
    memo.InsertLine(0, "zero");
    std::vector<std::string> expected = {"zero", "one", "", "three "};
    EXPECT_EQ(memo.Lines(), expected);
    EXPECT_TRUE(GetWindowLongA(memo.Handle(), GWL_STYLE) & ES_READONLY);

    EXPECT_EQ(form.group.Text(), "Group");
    EXPECT_EQ(GetParent(form.check.Handle()), form.group.Handle());
}

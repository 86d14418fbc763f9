// The rule file read into the Rules Engine page's list and written back from it.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "RulesFixture.h"

TEST_F(RulesTest, PageHoldsTheListAndItsThreeButtons)
{
    EXPECT_EQ(form->grpRules.Text(), "Website Rules");
    EXPECT_EQ(GetParent(form->grpRules.Handle()), form->tabRules.Handle());
    HWND list = form->lvwRules.Handle();
    LONG style = GetWindowLongA(list, GWL_STYLE);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(style & LVS_SINGLESEL);
    EXPECT_FALSE(style & (LVS_EDITLABELS | LVS_SORTASCENDING | LVS_SORTDESCENDING));
    DWORD extended = static_cast<DWORD>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(extended & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
              static_cast<DWORD>(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));
    ASSERT_EQ(form->lvwRules.ColumnCount(), 2);
    const char* captions[] = {"Website or URL", "Rule or Constraint"};
    const int widths[] = {200, 270};
    for (int i = 0; i < 2; ++i) {
        testsupport::ListColumn column = testsupport::ReadListColumn(list, i);
        EXPECT_EQ(column.text, captions[i]);
        EXPECT_EQ(column.width, widths[i]);
    }
    // The buttons do not follow the selection.
    for (ui::TButton* b : {&form->btnDeleteRule, &form->btnEditRule, &form->btnAddRule}) {
        EXPECT_EQ(GetParent(b->Handle()), form->grpRules.Handle());
        EXPECT_TRUE(b->Enabled()) << b->Text();
    }
}

TEST_F(RulesTest, FilesBuiltByHandLoadTheirWholeGoodRecords)
{
    const std::string r1 = Record("www.one.com", 1), r4 = Record("ads.example.net", 4);
    const struct {
        const char* name;
        std::string bytes;
        std::vector<RuleRow> rows;
    } cases[] = {
        {"zero bytes", "", {}},
        {"bad kinds skipped",
         r1 + Record("zero", 0) + Record("five", 5) + Record("max", 255) + r4,
         {Row("www.one.com", 1), Row("ads.example.net", 4)}},
        {"2 x 257 + 100",
         r1 + r4 + std::string(100, 'x'),
         {Row("www.one.com", 1), Row("ads.example.net", 4)}},
        {"garbage after the URL",
         Record("a.com", 2, "GARBAGE\xff\x01") + Record("", 3, "junk"),
         {Row("a.com", 2), Row("", 3)}},
        {"shorter than a record", std::string(256, '\x04'), {}},
        {"URL of 255", Record(std::string(255, 'w'), 3), {Row(std::string(255, 'w'), 3)}},
    };
    for (const auto& c : cases) {
        WriteRuleFile(c.bytes);
        SetRows({Row("left over", 2)});
        ClickTab(form->tabRules);
        EXPECT_EQ(Rows(), c.rows) << c.name;
        EXPECT_EQ(RuleFile(), c.bytes) << c.name << ": loading writes nothing";
        ClickTab(form->tabDefault);
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(RulesTest, WithNoFileTheListIsLeftAsItWas)
{
    SetRows({Row("kept", 1)});
    form->mnuRulesEngine.Click();
    EXPECT_EQ(Rows(), std::vector<RuleRow>{Row("kept", 1)});
    EXPECT_FALSE(testsupport::FileExists(RulePath()));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(RulesTest, ApplyWritesEveryRowCleanAndInOrder)
{
    // Garbage after a URL, a bad kind and trailing bytes all go at the next save.
    WriteRuleFile(Record("a.com", 2, "GARBAGE") + Record("gone", 9) + Record("b.com", 4) + "tail");
    ShowRulesPage();
    form->lvwRules.AddItem({std::string(300, 'L'), kKindText[1]}, 1);
    form->lvwRules.AddItem({"", kKindText[3]}, 3);
    form->RulesChanged = true;
    form->btnApply.SetEnabled(true);

    Press(form->btnApply);
    Pump();
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(form->RulesChanged);
    EXPECT_EQ(RuleFile(), Record("a.com", 2) + Record("b.com", 4) +
                              Record(std::string(255, 'L'), 1) + Record("", 3));

    ClickTab(form->tabHistory);
    ClickTab(form->tabRules);
    EXPECT_EQ(Rows(), (std::vector<RuleRow>{Row("a.com", 2), Row("b.com", 4),
                                            Row(std::string(255, 'L'), 1), Row("", 3)}));

    // Every rule deleted and applied: a file of no bytes, loading as an empty list.
    form->lvwRules.Clear();
    form->RulesChanged = true;
    form->SaveRules();
    EXPECT_EQ(RuleFile(), "");
    SetRows({Row("x", 1)});
    form->LoadRules();
    EXPECT_TRUE(Rows().empty());
}

TEST_F(RulesTest, SavingThenLoadingGivesTheSameRows)
{
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<RuleRow> rows;
        for (int n = static_cast<int>(random() % 12); n > 0; --n) {
            std::string url(random() % 256, '\0');
            for (char& c : url)
                c = static_cast<char>(' ' + random() % 95);
            rows.push_back(Row(url, static_cast<int>(random() % 4) + 1));
        }
        SetRows(rows);
        form->RulesChanged = true;
        form->SaveRules();
        ASSERT_FALSE(form->RulesChanged);
        SetRows({});
        form->LoadRules();
        ASSERT_EQ(Rows(), rows) << "round " << round;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(RulesTest, UnappliedRowsGoOnReenteringOnlyWhenAFileExists)
{
    const struct {
        const char* name;
        std::function<void()> reenter;
    } ways[] = {
        {"another page and back",
         [&] {
             ClickTab(form->tabHistory);
             ClickTab(form->tabRules);
         }},
        {"hidden and shown again",
         [&] {
             form->Hide();
             form->Show();
         }},
    };
    for (const auto& way : ways) {
        for (bool fileExists : {true, false}) {
            SCOPED_TRACE(std::string(way.name) + (fileExists ? ", with a file" : ", no file"));
            DeleteFileA(RulePath().c_str());
            if (fileExists) WriteRuleFile(Record("saved.com", 1));
            SetRows({});
            ShowRulesPage();
            form->lvwRules.AddItem({"unsaved.com", kKindText[4]}, 4);
            form->RulesChanged = true;
            way.reenter();
            std::vector<RuleRow> expected = {Row("saved.com", 1)};
            if (!fileExists) expected = {Row("unsaved.com", 4)};
            EXPECT_EQ(Rows(), expected);
            EXPECT_TRUE(form->RulesChanged) << "the flag keeps its value";
        }
    }
}

namespace {

void ExpectErrorBox(const std::vector<RecordedBox>& boxes, const std::string& path)
{
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Quellor");
    EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_NE(boxes[0].text.find("\"" + path + "\""), std::string::npos) << boxes[0].text;
}

} // namespace

TEST_F(RulesTest, AFileThatCanOnlyBeReadLoadsAndIsNeverWritten)
{
    const std::string stored = Record("a.com", 1) + Record("b.com", 2);
    for (bool readOnly : {true, false}) {
        SCOPED_TRACE(readOnly ? "read-only" : "held by a reader that shares only reading");
        SetFileAttributesA(RulePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteRuleFile(stored);
        win::File reader;
        if (readOnly)
            ASSERT_TRUE(SetFileAttributesA(RulePath().c_str(), FILE_ATTRIBUTE_READONLY));
        else
            reader.reset(CreateFileA(RulePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        SetRows({Row("before", 3)});
        boxes.clear();
        form->Hide();
        ShowRulesPage();
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(Rows(), (std::vector<RuleRow>{Row("a.com", 1), Row("b.com", 2)}));

        form->lvwRules.AddItem({"new.com", kKindText[2]}, 2);
        form->RulesChanged = true;
        form->btnApply.SetEnabled(true);
        Press(form->btnOk);
        Pump();
        ExpectErrorBox(boxes, RulePath());
        EXPECT_TRUE(form->RulesChanged);
        EXPECT_TRUE(form->Visible()) << "OK keeps the window open when the save fails";
        EXPECT_EQ(RuleFile(), stored);
    }

    // Once writable, the next Apply writes the whole list.
    SetFileAttributesA(RulePath().c_str(), FILE_ATTRIBUTE_NORMAL);
    boxes.clear();
    Press(form->btnApply);
    Pump();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(RuleFile(), stored + Record("new.com", 2));
}

TEST_F(RulesTest, AListThatFailedToLoadIsNeverSavedOverTheFile)
{
    const std::string stored = Record("a.com", 1) + Record("b.com", 4);
    WriteRuleFile(stored);
    win::File holder(
        CreateFileA(RulePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);

    // Unsaved changes that the failed load threw away must not be saved over the file.
    form->RulesChanged = true;
    ShowRulesPage();
    ExpectErrorBox(boxes, RulePath());
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(form->RulesChanged);

    boxes.clear();
    form->lvwRules.AddItem({"c.com", kKindText[3]}, 3);
    form->RulesChanged = true;
    Press(form->btnApply);
    Pump();
    ExpectErrorBox(boxes, RulePath());
    holder.reset();

    // Released, but the list is still not the file's content: Apply says so, writes nothing.
    boxes.clear();
    Press(form->btnApply);
    Pump();
    ExpectErrorBox(boxes, RulePath());
    EXPECT_NE(boxes[0].text.find("not saved because"), std::string::npos) << boxes[0].text;
    EXPECT_TRUE(form->RulesChanged);
    EXPECT_EQ(RuleFile(), stored);

    // A successful load ends that state.
    boxes.clear();
    ClickTab(form->tabHistory);
    ClickTab(form->tabRules);
    EXPECT_EQ(Rows(), (std::vector<RuleRow>{Row("a.com", 1), Row("b.com", 4)}));
    form->lvwRules.AddItem({"c.com", kKindText[3]}, 3);
    form->RulesChanged = true;
    Press(form->btnApply);
    Pump();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(RuleFile(), stored + Record("c.com", 3));
}

TEST_F(RulesTest, UneditedRulesAreWrittenBackByteForByte)
{
    // A NUL inside the URL cuts the list's text; the record keeps all 10 bytes.
    const std::string hidden = Record(std::string("a.com\0tail", 10), 1);
    WriteRuleFile(hidden + Record("b.com", 2) + Record("c.com", 3));
    ShowRulesPage();
    ASSERT_EQ(Rows(), (std::vector<RuleRow>{Row("a.com", 1), Row("b.com", 2), Row("c.com", 3)}));

    form->lvwRules.Select(1);
    form->btnDeleteRuleClick(nullptr);
    Press(form->btnApply);
    Pump();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(RuleFile(), hidden + Record("c.com", 3));
}

TEST_F(RulesTest, AFileThatCannotBeShortenedHoldsNoDeletedRule)
{
    // A reader holding the file mapped stops it from being cut shorter.
    WriteRuleFile(Record("a.com", 1) + Record("b.com", 2) + Record("c.com", 3));
    win::File reader(CreateFileA(RulePath().c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    ASSERT_TRUE(reader);
    HANDLE mapping = CreateFileMappingA(reader.get(), nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_TRUE(mapping);
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_TRUE(view);

    SetRows({Row("z.com", 4)});
    form->RulesChanged = true;
    Press(form->btnApply);
    Pump();
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    reader.reset();

    ExpectErrorBox(boxes, RulePath());
    EXPECT_TRUE(form->RulesChanged);
    EXPECT_EQ(RuleFile(), Record("z.com", 4) + std::string(2 * 257, '\0'));
    SetRows({});
    form->LoadRules();
    EXPECT_EQ(Rows(), std::vector<RuleRow>{Row("z.com", 4)});
}

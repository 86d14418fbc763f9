#pragma once
// The Rules Engine page of a real main window: rule files laid down byte by byte, the
// list's rows and clicks as a user makes them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MainFormFixture.h"

struct RuleRow {
    std::string url;
    std::string text;
    LPARAM code;
    bool operator==(const RuleRow&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RuleRow& row)
{
    return out << "{\"" << row.url << "\", \"" << row.text << "\", " << row.code << "}";
}

inline constexpr const char* kKindText[] = {
    "",
    "Allow pop-up windows while visiting this URL",
    "Allow pop-up windows that start with this URL",
    "Always kill pop-up windows while visiting this URL",
    "Always kill pop-up windows that start with this URL",
};

inline RuleRow Row(const std::string& url, int code)
{
    return {url, kKindText[code], code};
}

// A 257-byte record written out by hand; `after` fills the URL area past the URL.
inline std::string Record(const std::string& url, int kind, const std::string& after = "")
{
    std::string bytes(257, '\0');
    bytes[0] = static_cast<char>(url.size());
    bytes.replace(1, url.size(), url);
    bytes.replace(1 + url.size(), after.size(), after);
    bytes[256] = static_cast<char>(kind);
    return bytes;
}

// What a user's click sends.
inline void Press(ui::TControl& button)
{
    PostMessageA(GetParent(button.Handle()), WM_COMMAND,
                 MAKEWPARAM(GetDlgCtrlID(button.Handle()), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button.Handle()));
}

class RulesTest : public MainFormTest {
protected:
    std::string RulePath() const { return folder + "QUELLOR.rul"; }
    void WriteRuleFile(const std::string& bytes) { testsupport::WriteFileBytes(RulePath(), bytes); }
    std::string RuleFile() const { return testsupport::ReadFileBytes(RulePath()); }

    std::vector<RuleRow> Rows() const
    {
        std::vector<RuleRow> rows;
        for (int i = 0; i < form->lvwRules.Count(); ++i)
            rows.push_back({form->lvwRules.ItemText(i, 0), form->lvwRules.ItemText(i, 1),
                            form->lvwRules.ItemData(i)});
        return rows;
    }

    void SetRows(const std::vector<RuleRow>& rows)
    {
        form->lvwRules.Clear();
        for (const RuleRow& row : rows)
            form->lvwRules.AddItem({row.url, row.text}, row.code);
    }

    // A click on a page's tab: the control selects it and notifies the window.
    void ClickTab(ui::TTabSheet& page)
    {
        SendMessageA(form->pageMain.Handle(), TCM_SETCURSEL, page.PageIndex(), 0);
        NMHDR header{form->pageMain.Handle(), 0, static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageA(form->Handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&header));
    }

    void ShowRulesPage()
    {
        form->Show();
        ClickTab(form->tabRules);
    }
};

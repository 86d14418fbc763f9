#pragma once
// The Rules Engine page of a real main window: rule files laid down byte by byte, the
// list's rows, clicks as a user makes them, and a script that drives the modal editor.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "MainFormFixture.h"
#include "app/pages/frmEditRule.h"

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

// Runs its steps on the rule editor, one per timer tick, from inside the editor's modal
// loop. A watchdog closes an editor that the steps leave open, so no test can hang.
class EditorScript {
public:
    using Step = std::function<void(TfrmEditRule& editor)>;

    explicit EditorScript(std::vector<Step> steps) : steps_(std::move(steps))
    {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 30, Tick);
    }
    ~EditorScript()
    {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }

    bool Finished() const { return next_ == steps_.size(); }
    int opened = 0; // editors seen
    bool timedOut = false;

private:
    static HWND OpenEditor()
    {
        HWND dialog = FindWindowA("TfrmEditRule", nullptr);
        return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
    }

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        EditorScript* self = current_;
        HWND dialog = OpenEditor();
        if (!self || !dialog) return;
        if (dialog != self->seen_) {
            self->seen_ = dialog;
            ++self->opened;
            self->ticks_ = 0;
        }
        if (++self->ticks_ > 150) {
            self->timedOut = true;
            PostMessageA(dialog, WM_CLOSE, 0, 0);
            return;
        }
        auto* editor = dynamic_cast<TfrmEditRule*>(ui::TWinContainer::ControlOf(dialog));
        if (editor && self->next_ < self->steps_.size()) self->steps_[self->next_++](*editor);
    }

    static inline EditorScript* current_ = nullptr;
    std::vector<Step> steps_;
    size_t next_ = 0;
    UINT_PTR timer_ = 0;
    HWND seen_ = nullptr;
    int ticks_ = 0;
};

// What a user's actions in the editor send it.
inline void Type(TfrmEditRule& editor, const std::string& text)
{
    SendMessageA(editor.txtURL.Handle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

inline void Choose(TfrmEditRule& editor, int index)
{
    SendMessageA(editor.cboRules.Handle(), CB_SETCURSEL, index, 0);
}

inline void Press(ui::TControl& button)
{
    PostMessageA(GetParent(button.Handle()), WM_COMMAND,
                 MAKEWPARAM(GetDlgCtrlID(button.Handle()), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button.Handle()));
}

inline void CloseBox(TfrmEditRule& editor)
{
    PostMessageA(editor.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
}

class RulesTest : public MainFormTest {
protected:
    std::string RulePath() const { return RuleFolder() + "QUELLOR.rul"; }
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

    // A user's click: posted, then handled here, the editor's modal loop included.
    void Click(ui::TControl& button, const EditorScript& script)
    {
        Press(button);
        testsupport::PumpUntil(
            [&] { return script.Finished() && !FindWindowA("TfrmEditRule", nullptr); }, 10000);
        Pump(100);
    }
};

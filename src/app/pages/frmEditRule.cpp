#include "app/pages/frmEditRule.h"

#include "rules/RuleRecord.h"

TfrmEditRule::TfrmEditRule(HWND owner)
{
    CreateForm("TfrmEditRule", "Edit Rule", 443, 201, owner, true, true);
    // Creation order is tab order: the group's edit box and list, then Cancel, then Save.
    GroupBox1.Create(*this, "", 8, 8, 425, 137);
    lblURL.Create(GroupBox1, "Web Site / URL", 8, 16);
    txtURL.Create(GroupBox1, 8, 32, 409, 21);
    txtURL.SetMaxLength(0); // as long as the user likes; the file keeps 255
    lblRule.Create(GroupBox1, "Rule / Constraint", 8, 72);
    cboRules.Create(GroupBox1, 8, 88, 409, 21);
    btnCancel.Create(*this, "Cancel", 360, 168, 73, 25);
    btnCancel.ModalResult = ui::mrCancel;
    btnSave.Create(*this, "Save", 264, 168, 73, 25);
    btnSave.ModalResult = ui::mrOk;
    FormCreate(this);
}

TfrmEditRule::~TfrmEditRule()
{
    Destroy();
}

void TfrmEditRule::FormCreate(ui::TObject*)
{
    for (int code = 1; code <= rules::kRuleKindCount; ++code)
        cboRules.AddItem(std::string(rules::RuleKindText(code)));
    cboRules.SetItemIndex(0);
}

void TfrmEditRule::SetKindCode(int code)
{
    if (rules::IsRuleKind(code)) cboRules.SetItemIndex(code - 1);
}

LRESULT TfrmEditRule::WndProc(UINT msg, WPARAM wp, LPARAM lp)
{
    // As a dialog does: the URL box has the focus (all of it selected) when the editor
    // opens, and whatever had it comes back when the editor is activated again.
    if (msg == WM_ACTIVATE) {
        if (LOWORD(wp) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(Handle(), focus)) lastFocus_ = focus;
        } else if (lastFocus_ && IsWindow(lastFocus_)) {
            ::SetFocus(lastFocus_);
        } else {
            txtURL.SetFocus();
            SendMessageA(txtURL.Handle(), EM_SETSEL, 0, -1);
        }
        return 0;
    }
    return TForm::WndProc(msg, wp, lp);
}

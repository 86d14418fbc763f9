#pragma once
// The rule editor: a modal dialog for one rule's URL and kind. Made for one add or edit
// and destroyed with it, so it keeps nothing between uses.
#include <string>

#include "ui/Controls.h"

class TfrmEditRule : public ui::TForm {
public:
    // Creates the hidden dialog over its owner and runs FormCreate.
    explicit TfrmEditRule(HWND owner);
    ~TfrmEditRule() override;

    ui::TGroupBox GroupBox1;
    ui::TLabel lblURL, lblRule;
    ui::TEdit txtURL;
    ui::TComboBox cboRules;
    ui::TButton btnCancel, btnSave;

    void FormCreate(ui::TObject* sender);

    // The chosen kind's code: its position in cboRules plus one.
    int KindCode() const { return cboRules.ItemIndex() + 1; }
    // Codes that are no kind leave the choice as it is.
    void SetKindCode(int code);

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    HWND lastFocus_ = nullptr;
};

#include "ui/Buttons.h"

namespace ui {

// ---- Buttons and check boxes ----------------------------------------------------------

void TButton::Create(TWinContainer& parent, const std::string& caption, int x, int y, int w, int h)
{
    CreateWnd(parent, "BUTTON", caption, WS_TABSTOP | BS_PUSHBUTTON, 0, x, y, w, h);
}

void TButton::Click()
{
    Command(BN_CLICKED);
}

void TButton::Command(WORD code)
{
    if (code != BN_CLICKED) return;
    Fire(OnClick, this);
    if (ModalResult != mrNone && hwnd_)
        if (auto* form =
                dynamic_cast<TForm*>(TWinContainer::ControlOf(GetAncestor(hwnd_, GA_ROOT))))
            form->SetModalResult(ModalResult);
}

void TCheckBox::Create(TWinContainer& parent, const std::string& caption, int x, int y, int w,
                       int h)
{
    CreateWnd(parent, "BUTTON", caption, WS_TABSTOP | BS_AUTOCHECKBOX, 0, x, y, w, h);
}

bool TCheckBox::Checked() const
{
    return SendMessageA(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool checked)
{
    if (checked == Checked()) return;
    SendMessageA(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    Fire(OnClick, this);
}

void TCheckBox::Command(WORD code)
{
    if (code == BN_CLICKED) Fire(OnClick, this);
}

} // namespace ui

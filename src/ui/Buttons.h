#pragma once
// Push buttons and check boxes.
#include <windows.h>

#include <string>

#include "ui/Component.h"
#include "ui/Form.h"

namespace ui {

class TButton : public TControl {
  public:
    TNotifyEvent OnClick;
    int ModalResult = mrNone; // closes its form with this result when clicked
    void Create(TWinContainer& parent, const std::string& caption, int x, int y, int w, int h);
    void Click();
    void Command(WORD code) override;
};

class TCheckBox : public TControl {
  public:
    TNotifyEvent OnClick;
    void Create(TWinContainer& parent, const std::string& caption, int x, int y, int w, int h);
    bool Checked() const;
    // Raises OnClick when the state changes, as a user's click does.
    void SetChecked(bool checked);
    void Command(WORD code) override;
};

} // namespace ui

#pragma once
// Labels and icons.
#include <windows.h>

#include <string>

#include "ui/Component.h"
#include "win/Handles.h"

namespace ui {

class TLabel : public TControl {
  public:
    TNotifyEvent OnClick;
    // Always sized to the caption; the width and height given are the design's.
    void Create(TWinContainer& parent, const std::string& caption, int x, int y, int w = 0,
                int h = 0);
    void SetFontColor(COLORREF color);
    void SetFont(int height, bool underline);
    void SetHandCursor();
    void Command(WORD code) override;
    HBRUSH CtlColor(HDC dc) override;
    COLORREF FontColor() const { return color_; }

  private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void AutoSize();
    COLORREF color_ = CLR_INVALID;
    win::Font font_;
    bool autoWidth_ = false, autoHeight_ = false;
    // Kept here, not in the control ID: the dialog manager takes ID 1 for the OK button
    // and would click the label on Enter.
    bool handCursor_ = false;
};

class TImage : public TControl {
  public:
    void Create(TWinContainer& parent, int x, int y, int w, int h, HICON icon);
    HICON Icon() const;
};

} // namespace ui

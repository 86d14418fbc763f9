#pragma once
// Top-level forms, modal or not, and the timers they own.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/Component.h"

namespace ui {

class TTimer;

enum TModalResult { mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL };

class TForm : public TWinContainer {
  public:
    TNotifyEvent OnShow, OnDestroy;
    std::function<void(TObject* sender, bool& canClose)> OnCloseQuery;
    std::function<void(TObject* sender, WORD& key, UINT shift)> OnKeyDown;

    // Creates the top-level window: fixed border, caption, client size, centred on the
    // screen (owner == nullptr or centreOnOwner false) or over the owner window.
    void CreateForm(const char* className, const std::string& caption, int clientWidth,
                    int clientHeight, HWND owner, bool dialogFrame, bool centreOnOwner);
    void Show();
    void Hide();
    bool Showing() const { return Visible(); }
    int ShowModal();
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }
    void Destroy();

    void AddTimer(TTimer* timer) { timers_.push_back(timer); }

  protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

  private:
    std::vector<TTimer*> timers_;
    int modalResult_ = mrNone;
    bool modal_ = false;
};

class TTimer : public TObject {
  public:
    TNotifyEvent OnTimer;
    void Create(TForm& owner, UINT interval, bool enabled);
    ~TTimer() override;
    bool Enabled() const { return enabled_; }
    // Enabling a running timer changes nothing; its period is not restarted.
    void SetEnabled(bool enabled);
    UINT Interval() const { return interval_; }
    UINT_PTR Id() const { return reinterpret_cast<UINT_PTR>(this); }
    void Tick();

  private:
    TForm* owner_ = nullptr;
    UINT interval_ = 1000;
    bool enabled_ = false;
};

} // namespace ui

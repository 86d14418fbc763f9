#pragma once
// The base of the component layer: controls as non-owning views of windows that their
// parent destroys, found from their window through one property, and the containers of
// our own window classes that reflect their children's notifications to them. Events
// fire through Fire(), which never lets an exception escape.
#include <windows.h>

#include <functional>
#include <string>

#include "ui/Application.h"

namespace ui {

class TObject {
  public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;
// A context menu asked for: by a right click, at that point of the screen, or from the
// keyboard (Shift+F10, the Applications key), which gives no point.
using TContextPopupEvent = std::function<void(TObject* sender, POINT at, bool byKeyboard)>;

// Runs an event handler at the boundary: an error ends it and goes to the application's
// error handler, as every event dispatch must.
void Fire(const TNotifyEvent& handler, TObject* sender);

// The program's own module, where our window classes are registered.
HINSTANCE Instance();

class TWinContainer;

class TControl : public TObject {
  public:
    TControl() = default;
    ~TControl() override;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    HWND Handle() const { return hwnd_; }
    bool Visible() const;
    void SetVisible(bool visible);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    std::string Text() const;
    void SetText(const std::string& text);
    RECT Bounds() const; // relative to the parent's client area
    void SetFocus();
    void Repaint();

    // Notifications reflected from the parent window.
    virtual void Command(WORD /*code*/) {}
    virtual bool Notify(NMHDR* /*header*/, LRESULT& /*result*/) { return false; }
    virtual HBRUSH CtlColor(HDC dc);

  protected:
    void CreateWnd(TWinContainer& parent, const char* windowClass, const std::string& text,
                   DWORD style, DWORD exStyle, int x, int y, int w, int h);
    // Creates the window, attaches it and gives it the application's font; param goes to
    // WM_NCCREATE.
    void CreateAttached(const char* windowClass, HWND parent, const std::string& text, DWORD style,
                        DWORD exStyle, int x, int y, int w, int h, void* param);
    void Attach(HWND hwnd);
    void Detach();

    HWND hwnd_ = nullptr;
};

// A window of our own class that hosts controls and reflects their notifications.
class TWinContainer : public TControl {
  public:
    ~TWinContainer() override;
    static TControl* ControlOf(HWND hwnd);

  protected:
    static void RegisterClassOnce(const char* className, UINT classStyle, HICON icon);
    void CreateContainer(const char* className, HWND parent, const std::string& text, DWORD style,
                         DWORD exStyle, int x, int y, int w, int h);
    virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Default(UINT msg, WPARAM wp, LPARAM lp);

  private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
};

} // namespace ui

#pragma once
// A stand-in for Internet Explorer's browser object, for hosting browser helpers where
// there is no HTML engine: it answers IWebBrowser2 and IConnectionPointContainer as the
// browser does, keeps the window properties a helper reads and writes, and fires
// DWebBrowserEvents2 with the argument types the browser uses. It prints nothing; a
// helper's property changes are handed to a callback.
#include <windows.h>

#include <exdisp.h>
#include <wrl/client.h>

#include <functional>
#include <string>

namespace iehost {

// The properties kept for real besides the location and its name.
enum class Property {
    Silent,
    TheaterMode,
    FullScreen,
    ToolBar,
    StatusBar,
    AddressBar,
    MenuBar,
    Resizable,
    Visible
};

class Browser {
  public:
    // Called on every put_ a helper makes, with the value as a number (VARIANT_TRUE as 1).
    using HelperSetCallback = std::function<void(const char* property, long value)>;

    explicit Browser(HelperSetCallback onHelperSet = {});
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // A browser older than NewWindow3 (Internet Explorer 6 before Service Pack 2): its type
    // library does not offer the event. Set before a helper is sited.
    void SetOlderBrowser(bool older);

    // The browser as a helper sees it: what IObjectWithSite::SetSite is given (the object's
    // identity; its IWebBrowser2 and IDispatch are other pointers, as in the browser).
    IUnknown* Site() const;

    // Events, to every advised sink; those with a Cancel argument return whether it is set
    // at the end (cancelledBefore: another add-on set it before the sinks are called).
    // Text is UTF-8. An empty frameName navigates the top-level page; any other fires with a
    // sub-frame object of that name as pDisp.
    bool FireBeforeNavigate2(const std::string& url, const std::string& frameName = {});
    void FireNavigateComplete2(const std::string& url);
    void FireDocumentComplete(const std::string& url);
    bool FireNewWindow2(bool cancelledBefore = false);
    // flags: NWMF_* bits; the URL context is frameUrl for a window opened by a frame, the
    // current location otherwise.
    bool FireNewWindow3(const std::string& url, DWORD flags, const std::string& frameUrl = {},
                        bool cancelledBefore = false);
    // The events with one VT_BOOL argument: DISPID_ONTOOLBAR, DISPID_WINDOWSETRESIZABLE, ...
    void FireBool(DISPID dispid, bool value);

    // The page's own changes: not reported to the callback and firing nothing.
    void SetLocation(const std::string& url);
    std::string Location() const;
    void SetProperty(Property property, long value);
    long GetProperty(Property property) const;

    // For the leak check at the end.
    long AdvisedSinks() const;
    // References held on the browser by anyone but us. A frame object holds its browser,
    // so a frame a helper kept counts too.
    long OutsideReferences() const;

  private:
    class Object;
    Microsoft::WRL::ComPtr<Object> object_;
};

} // namespace iehost

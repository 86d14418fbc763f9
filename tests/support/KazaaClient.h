#pragma once
// The stand-in file-sharing client KAZAACLIENT.EXE (tools/kazaa_client), started for a
// test, and what it reports about the windows and pages of its own that were touched.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "Robot.h"
#include "TestSupport.h"

namespace testsupport {

struct ClientEvent {
    DWORD tick;
    std::string event; // ready, syscommand-close, closed, getobject, emptied, unexpected
    std::string detail;
};

class KazaaClient {
public:
    // Classes of the client's windows that a pass closes: its browser frame, its stray
    // top-level display window and its banners at every depth.
    static inline const std::multiset<std::string> kAdWindows = {
        "IEFrame", "Internet Explorer_Server", "AdBanner", "BANNERVIEW", "xAnimGiFx", "gifPlayer"};
    // Its windows that a pass leaves: near misses, containers and ordinary controls.
    static inline const char* const kOtherWindows[] = {
        "BanerStrip", "GI_F", "Button", "Edit", "Shell DocObject View", "KazaaSidePanel",
        "KazaaPanelInner"};

    // Starts the client and waits until its windows are up; check Started().
    explicit KazaaClient(const std::string& extraArgs = "");

    bool Started() const { return main_ != nullptr; }
    DWORD Pid() const { return process_.Pid(); }
    HWND Main() const { return main_; }
    // A window of the client's process of the given class (any depth), or null.
    HWND Find(const char* className) const;

    std::vector<ClientEvent> Events() const;
    int Count(const std::string& event, const std::string& detail = "") const;
    // Classes of the windows closed so far.
    std::multiset<std::string> Closed() const;
    // The display window of the embedded browser (not the stray top-level one).
    HWND EmbeddedBrowser() const;

    void ReopenAds() const;
    // References held on the page objects by others; -1 when the client does not answer.
    long OutstandingReferences() const;

private:
    robot::Process process_;
    std::string report_;
    HWND main_ = nullptr;
};

} // namespace testsupport

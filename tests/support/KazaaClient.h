#pragma once
// The stand-in file-sharing client KAZAACLIENT.EXE, started beside the test programs,
// and what it reports about the windows and pages of its own that were touched.
#include <windows.h>

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
    // Starts the client and waits until its windows are up; check Started().
    explicit KazaaClient(const std::string& extraArgs = "");

    bool Started() const { return main_ != nullptr; }
    DWORD Pid() const { return process_.Pid(); }
    HWND Main() const { return main_; }
    // A window of the client's process of the given class (any depth), or null.
    HWND Find(const char* className) const;

    std::vector<ClientEvent> Events() const;
    int Count(const std::string& event, const std::string& detail = "") const;
    // Classes of the windows closed so far, in order.
    std::vector<std::string> Closed() const;

    void ReopenAds() const;
    // References held on the page objects by others; -1 when the client does not answer.
    long OutstandingReferences() const;

  private:
    robot::Process process_;
    std::string report_;
    HWND main_ = nullptr;
};

} // namespace testsupport

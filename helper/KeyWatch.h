#pragma once
// A watch on a registry key that need not exist: while it does, the key and everything
// below it; while it does not, the deepest of its parents that does, for the next step down
// to appear. A policy key made after the browser started is thus seen as soon as it is made,
// and a machine without one pays nothing per event.
#include <windows.h>

#include <string>

#include "win/Handles.h"

namespace helper {

class TKeyWatch {
  public:
    TKeyWatch(HKEY root, std::string path, REGSAM view);

    // Whether the watch is set and nothing it watches has changed since.
    bool Quiet() const;
    // Sets the watch again where it now belongs, after a change or before the first look.
    // True when the key itself may have changed: it changed, appeared or went away.
    bool Renew();

  private:
    HKEY root_;
    std::string path_;
    REGSAM view_;
    win::Kernel changed_;
    win::RegKey watched_;
    std::string watchedPath_; // empty: the root itself
    bool armed_ = false;
    bool atKey_ = false;
};

} // namespace helper

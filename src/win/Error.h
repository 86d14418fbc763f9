#pragma once
// The error type of the storage layers and the system's own texts for failures. Below the
// user interface: the browser helper uses it too.
#include <windows.h>

#include <exception>
#include <string>

namespace win {

// Errors of the storage layers carry a message text.
class EQuellorError : public std::exception {
  public:
    explicit EQuellorError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

// The system's description of an HRESULT (or a Win32 error code), without the line break
// it ends with; "System error 0x..." when the system has none.
std::string SystemErrorText(HRESULT hr);

} // namespace win

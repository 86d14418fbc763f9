#pragma once
#include <windows.h>

namespace helper {

// A new browser helper object, asked for the interface riid.
HRESULT CreateBrowserHelper(REFIID riid, void** out) noexcept;

} // namespace helper

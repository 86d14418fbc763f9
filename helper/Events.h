#pragma once
// Reading an event's arguments safely: a browser passes them in reverse order, and each
// one's type is checked before it is used.
#include <windows.h>

#include <oaidl.h>

#include <string>

namespace helper {

// The argument at position index of the event's own order, or nullptr when the event does
// not carry exactly count arguments.
const VARIANT* Arg(const DISPPARAMS* params, UINT index, UINT count);

// A VT_BYREF|VT_BOOL out-argument (Cancel), or nullptr.
VARIANT_BOOL* CancelOf(const VARIANT* arg);
// A VT_BOOL argument; false when it is none.
bool BoolOf(const VARIANT* arg, bool& value);
// An integer argument of any of the integer types.
bool IntOf(const VARIANT* arg, long& value);
// A text argument: VT_BSTR, or a VT_BSTR behind VT_BYREF|VT_VARIANT or VT_BYREF|VT_BSTR.
const wchar_t* TextOf(const VARIANT* arg, UINT& length);
// An object argument (VT_DISPATCH or VT_UNKNOWN), not AddRef'd.
IUnknown* ObjectOf(const VARIANT* arg);

// UTF-16 to the ANSI code page; the whole text.
std::string Ansi(const wchar_t* text, UINT length);
// At most maxBytes bytes, never ending inside a double-byte character.
std::string CutAnsi(const std::string& text, size_t maxBytes);

} // namespace helper

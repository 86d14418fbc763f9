#pragma once
// What Windows Vista added and Windows XP lacks, looked up at run time: the program runs on
// both. Below the user interface: the browser helper uses it too.
#include <windows.h>

#include <string>

#include "win/AnsiPath.h"

namespace win {

// By the version Windows reports, never by trying a write.
bool IsVistaOrLater();

// FOLDERID_LocalAppData and FOLDERID_LocalAppDataLow.
extern const GUID kFolderLocalAppData;
extern const GUID kFolderLocalAppDataLow;

// A known folder with a trailing backslash, created when missing. Before Vista nothing; when
// Windows cannot find or make it, no usable form but the path it names, if any, and why.
AnsiPath KnownFolderPath(const GUID& folder);

// The window-message filter: which call lets a message from processes of lower integrity
// through, found in user32 at run time.
struct MessageFilterApi {
    using WindowFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*); // ChangeWindowMessageFilterEx
    using ProcessFn = BOOL(WINAPI*)(UINT, DWORD);             // ChangeWindowMessageFilter
    WindowFn window = nullptr;                                // Windows 7 and later
    ProcessFn process = nullptr;                              // Windows Vista
};
MessageFilterApi SystemMessageFilterApi();

enum class FilterCall { None, Window, Process };

// Lets the message through to the window: for that window alone where the system can, for
// the whole process on Vista, not at all where there is no filter. Gives the call made.
FilterCall AllowMessageFromLowerIntegrity(HWND window, UINT message, const MessageFilterApi& api);

} // namespace win

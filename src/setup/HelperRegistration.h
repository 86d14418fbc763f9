#pragma once
// The browser helper libraries beside the program and their registration: QUELLOR.DLL for
// 32-bit browsers, registered in this 32-bit process, and on 64-bit Windows QUELLOR64.DLL
// for 64-bit browsers, which a 32-bit process cannot load: the system's 64-bit regsvr32
// registers it, and its keys live in the registry's 64-bit view.
#include <windows.h>

#include <string>
#include <vector>

namespace setup {

// True on x86-64 Windows, where this 32-bit program runs under WOW64. Asked at run time:
// Windows XP before Service Pack 2 has no IsWow64Process.
bool Is64BitWindows();

struct THelperLibrary {
    std::string path;      // beside the program, named after it: QUELLOR.dll, QUELLOR64.dll
    std::string shownName; // in messages, whatever the program is called
    std::string fixedName; // scheduled for deletion by this name
    bool is64Bit = false;
    bool registered = false; // whether this Windows registers it at all
    // The registry view its keys are in: this process's own, or the 64-bit one.
    REGSAM View() const { return is64Bit ? KEY_WOW64_64KEY : 0; }
};

// Both libraries of the program folder, the 32-bit one first; the 64-bit one's path is the
// 32-bit one's with "64.dll" for its extension.
std::vector<THelperLibrary> HelperLibraries(const std::string& libraryPath, bool windows64);

// Its own DllRegisterServer (DllUnregisterServer); true when that reported success.
bool RegisterHelper(const THelperLibrary& library);
bool UnregisterHelper(const THelperLibrary& library);

// Runs the system's 64-bit regsvr32 silently on a 64-bit library, waits for it and gives
// its exit code; false when it could not be run, did not end in time or exited non-zero.
bool RunRegsvr32(const std::string& library, bool unregister);

// True when the file's image is for x86-64: a 64-bit regsvr32 would hand any other library
// to the 32-bit one, which registers it in the wrong view.
bool IsX64Library(const std::string& path);

bool MachineKeyExists(const std::string& path, REGSAM view);
// Deletes the machine's key and all below it, in the view; nothing when it is gone, else a
// line naming the key and the system's reason.
std::string RemoveMachineKey(const std::string& path, REGSAM view);

} // namespace setup

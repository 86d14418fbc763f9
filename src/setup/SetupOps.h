#pragma once
// The setup operations that installation and uninstallation are made of.
#include <windows.h>

#include <string>

namespace setup {

// True when the path's extension, in any case, is ".dll".
bool HasDllExtension(const std::string& path);

// Loads the library and calls its DllRegisterServer (DllUnregisterServer) entry point.
// True when the entry point was found, called and reported success.
bool RegisterServerDll(const std::string& path);
bool UnregisterServerDll(const std::string& path);

// Writes folder\name.lnk, creating the folder first. Every failure is raised as a
// win::EQuellorError carrying the system's description of it; true when saved.
bool CreateShortcut(const std::string& name, const std::string& description,
                    const std::string& target, const std::string& folder,
                    const std::string& workingFolder, const std::string& iconFile, int iconIndex,
                    const std::string& arguments);

// Creates the folder and every missing folder above it; false when it does not exist after.
bool ForceDirectories(const std::string& folder);

} // namespace setup

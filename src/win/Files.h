#pragma once
// File helpers shared by both programs.
#include <windows.h>

#include <cstdint>
#include <string>

namespace win {

// True for an existing file, false for a folder or nothing.
bool FileExists(const std::string& path);

// What tells a changed file from an unchanged one without reading it.
struct FileStamp {
    uint64_t size = 0;
    FILETIME written{};
    bool exists = false;
    bool operator==(const FileStamp& other) const
    {
        return exists == other.exists && size == other.size &&
               written.dwLowDateTime == other.written.dwLowDateTime &&
               written.dwHighDateTime == other.written.dwHighDateTime;
    }
};
FileStamp StampOf(const std::string& path);

} // namespace win

#pragma once
// The settings key as raw bytes with their registry types: tests lay down exactly what
// the browser helper or a damaged registry might hold, and read back what was written.
#include <windows.h>

#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "TestSupport.h"

namespace settingskey {

inline constexpr char kPath[] = "Software\\Tandrel\\Quellor";

struct Raw {
    DWORD type = REG_NONE;
    std::string bytes;
    bool operator==(const Raw&) const = default;
};

// Readable in a failed expectation: the type and the bytes in hex.
inline void PrintTo(const Raw& raw, std::ostream* out)
{
    *out << "type " << raw.type << ":";
    for (unsigned char byte : raw.bytes) {
        const char* digits = "0123456789abcdef";
        *out << ' ' << digits[byte >> 4] << digits[byte & 15];
    }
}

inline void Clear()
{
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kPath);
}

inline void Set(const char* name, DWORD type, const std::string& bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the settings key");
    LONG result = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) throw std::runtime_error(std::string("cannot set ") + name);
}

inline std::string Dword(DWORD value)
{
    return std::string(reinterpret_cast<char*>(&value), 4);
}
inline std::string Double(double value)
{
    return std::string(reinterpret_cast<char*>(&value), 8);
}
// A REG_SZ as the ANSI interface stores it: the text and its terminating NUL.
inline std::string Sz(const std::string& text)
{
    return text + '\0';
}

inline void SetDword(const char* name, DWORD value)
{
    Set(name, REG_DWORD, Dword(value));
}
inline void SetString(const char* name, const std::string& text)
{
    Set(name, REG_SZ, Sz(text));
}

// Every value of the key, by name.
inline std::map<std::string, Raw> All()
{
    std::map<std::string, Raw> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
    for (DWORD i = 0;; ++i) {
        char name[256] = {};
        DWORD nameSize = sizeof name, type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::string data(size, '\0');
        nameSize = sizeof name;
        RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                      &size);
        data.resize(size);
        values[name] = {type, data};
    }
    RegCloseKey(key);
    return values;
}

inline std::optional<Raw> Get(const std::string& name)
{
    std::map<std::string, Raw> values = All();
    auto found = values.find(name);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

inline bool KeyExists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

} // namespace settingskey

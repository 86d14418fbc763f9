#include "TestSupport.h"

#include <commctrl.h>
#include <sddl.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {
// Off (-2), every allocation (-1), or the successful ones left before the one that fails.
thread_local long t_allocationsBeforeFailure = -2;
thread_local bool t_allocationFailed = false;
} // namespace

void* operator new(std::size_t size)
{
    if (t_allocationsBeforeFailure == -1 || t_allocationsBeforeFailure == 0) {
        if (t_allocationsBeforeFailure == 0) t_allocationsBeforeFailure = -2;
        t_allocationFailed = true;
        throw std::bad_alloc();
    }
    if (t_allocationsBeforeFailure > 0) --t_allocationsBeforeFailure;
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace testsupport {

FailingAllocations::FailingAllocations() : FailingAllocations(-1) {}
FailingAllocations::FailingAllocations(long succeeding)
{
    t_allocationsBeforeFailure = succeeding;
    t_allocationFailed = false;
}
FailingAllocations::~FailingAllocations()
{
    t_allocationsBeforeFailure = -2;
}
bool FailingAllocations::Failed() const
{
    return t_allocationFailed;
}

std::string HostPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string StageDir()
{
#ifdef QUELLOR_STAGE_DIR
    std::string path = "Z:" QUELLOR_STAGE_DIR;
#else
    std::string path = "Z:/";
#endif
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.back() != '\\') path += '\\';
    return path;
}

std::string FreshFolder(const std::string& hint)
{
    static std::atomic<int> counter{0};
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    for (;;) {
        std::string path = std::string(temp) + "quellor test " + hint + " " +
                           std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) +
                           "\\";
        if (CreateDirectoryA(path.c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create test folder " + path);
    }
}

void CopyFileOrFail(const std::string& from, const std::string& to)
{
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
        throw std::runtime_error("cannot copy " + from + " to " + to);
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (strcmp(data.cFileName, ".") != 0 && strcmp(data.cFileName, "..") != 0)
            names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring Wide(const std::string& ansi)
{
    std::wstring wide(ansi.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, ansi.data(),
                                                        static_cast<int>(ansi.size()), wide.data(),
                                                        static_cast<int>(wide.size()))));
    return wide;
}

std::string ReadFileBytes(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    if (!ok) throw std::runtime_error("cannot write " + path);
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (condition()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(20, timeoutMs - elapsed),
                                  QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

namespace {

// The clipboard's text in one format, as the program that pastes it reads it.
template <typename Char> std::basic_string<Char> ClipboardAs(UINT format)
{
    std::basic_string<Char> text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(format)) {
        if (const Char* chars = static_cast<const Char*>(GlobalLock(data))) text = chars;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

} // namespace

std::string ClipboardText()
{
    return ClipboardAs<char>(CF_TEXT);
}

std::wstring ClipboardUnicodeText()
{
    return ClipboardAs<wchar_t>(CF_UNICODETEXT);
}

void DeleteKeyTree(HKEY root, const std::string& path)
{
    SHDeleteKeyA(root, path.c_str());
}

namespace {

constexpr char kPolicies[] = "Software\\Policies";
constexpr REGSAM kPolicyView = KEY_WOW64_64KEY;

bool PolicyKeyExists(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | kPolicyView, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Deletes the key path, made of the parent and its last step, and all below it.
void DeletePolicyKey(HKEY root, const std::string& parent, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, parent.c_str(), 0, KEY_ALL_ACCESS | kPolicyView, &key) != ERROR_SUCCESS)
        return;
    SHDeleteKeyA(key, name);
    RegCloseKey(key);
}

} // namespace

PolicyKeys::PolicyKeys()
    : hadPolicies_{PolicyKeyExists(HKEY_LOCAL_MACHINE, kPolicies),
                   PolicyKeyExists(HKEY_CURRENT_USER, kPolicies)}
{
    Clear();
}

PolicyKeys::~PolicyKeys()
{
    Clear();
    HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (int i = 0; i < 2; ++i)
        if (!hadPolicies_[i]) DeletePolicyKey(roots[i], "Software", "Policies");
}

void PolicyKeys::Clear()
{
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        DeletePolicyKey(root, kPolicies, "Tandrel");
}

void PolicyKeys::Set(HKEY root, const char* name, DWORD type, const std::string& bytes)
{
    std::string path = std::string(kPolicies) + "\\Tandrel\\Quellor";
    std::string value = name;
    // A rule list's value goes into the list's own key.
    if (size_t slash = value.find('\\'); slash != std::string::npos) {
        path += "\\" + value.substr(0, slash);
        value.erase(0, slash + 1);
    }
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kPolicyView, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + path);
    LONG result =
        RegSetValueExA(key, value.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) throw std::runtime_error("cannot set " + path + " " + value);
}

void PolicyKeys::SetDword(HKEY root, const char* name, DWORD value)
{
    Set(root, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

void PolicyKeys::AddRule(HKEY root, const char* list, const std::string& url)
{
    // Numbered as the Group Policy editor numbers a list's entries.
    static int next = 0;
    std::string name = std::string(list) + "\\" + std::to_string(++next);
    Set(root, name.c_str(), REG_SZ, url + '\0');
}

namespace {

const wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

bool SetUserShellFolder(const wchar_t* name, const std::wstring* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    LONG result = path ? RegSetValueExW(key, name, 0, REG_EXPAND_SZ,
                                        reinterpret_cast<const BYTE*>(path->c_str()),
                                        static_cast<DWORD>((path->size() + 1) * sizeof(wchar_t)))
                       : RegDeleteValueW(key, name);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

} // namespace

MovedUserFolder::MovedUserFolder(const wchar_t* name, const std::wstring& path) : name_(name)
{
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kUserShellFolders, name, RRF_RT_ANY | RRF_NOEXPAND, nullptr,
                     value, &size) == ERROR_SUCCESS)
        saved_ = value;
    if (!SetUserShellFolder(name, &path)) throw std::runtime_error("cannot move a shell folder");
}

MovedUserFolder::~MovedUserFolder()
{
    SetUserShellFolder(name_, saved_ ? &*saved_ : nullptr);
}

std::vector<DWORD> ScreenPixels(const RECT& area)
{
    int w = area.right - area.left, h = area.bottom - area.top;
    if (w <= 0 || h <= 0) return {};
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
    const auto* pixels = static_cast<const DWORD*>(bits);
    std::vector<DWORD> copy(pixels, pixels + static_cast<size_t>(w) * h);
    for (DWORD& pixel : copy)
        pixel &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return copy;
}

std::vector<DWORD> TrayPixels()
{
    HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    if (!tray || !IsWindowVisible(tray)) return {};
    RECT r{};
    GetWindowRect(tray, &r);
    r.left = std::max<LONG>(r.left, r.right - 256);
    return ScreenPixels(r);
}

ListColumn ReadListColumn(HWND list, int index)
{
    char text[256] = {};
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = text;
    column.cchTextMax = sizeof text;
    if (!SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(&column)))
        return {};
    return {text, column.cx};
}

bool SetDefaultDacl(HANDLE token, const char* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr))
        return false;
    TOKEN_DEFAULT_DACL dacl{};
    BOOL present = FALSE, defaulted = FALSE;
    bool ok = GetSecurityDescriptorDacl(sd, &present, &dacl.DefaultDacl, &defaulted) &&
              SetTokenInformation(token, TokenDefaultDacl, &dacl, sizeof dacl);
    LocalFree(sd);
    return ok;
}

win::Kernel ElevatedToken()
{
    win::Kernel ours, token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, ours.put()) ||
        !DuplicateTokenEx(ours.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                          TokenPrimary, token.put()) ||
        !SetDefaultDacl(token.get(), kElevatedDefaultDacl))
        return {};
    return token;
}

win::Kernel StandardUserToken()
{
    win::Kernel ours, token;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, ours.put()) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size))
        return {};
    SID_AND_ATTRIBUTES denyOnly{admins, 0};
    if (!CreateRestrictedToken(ours.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, token.put()))
        return {};
    return token;
}

std::string RuleBytes(const std::string& url, unsigned char kind)
{
    std::string record(257, '\0');
    record[0] = static_cast<char>(url.size());
    std::memcpy(&record[1], url.data(), url.size());
    record[256] = static_cast<char>(kind);
    return record;
}

std::string LogRecordBytes(double time, const std::string& url, const std::string& source)
{
    std::string record(520, '\0');
    std::memcpy(&record[0], &time, 8);
    record[8] = static_cast<char>(url.size());
    std::memcpy(&record[9], url.data(), url.size());
    record[264] = static_cast<char>(source.size());
    std::memcpy(&record[265], source.data(), source.size());
    return record;
}

std::vector<LogRecord> LogRecords(const std::string& bytes)
{
    std::vector<LogRecord> records;
    for (size_t at = 0; at + 520 <= bytes.size(); at += 520) {
        auto text = [&](size_t field) {
            return bytes.substr(at + field + 1, static_cast<unsigned char>(bytes[at + field]));
        };
        records.push_back({text(8), text(264)});
    }
    return records;
}

std::vector<LogRecord> ReadLog(const std::string& path)
{
    return LogRecords(FileExists(path) ? ReadFileBytes(path) : "");
}

} // namespace testsupport

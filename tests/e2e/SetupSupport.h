#pragma once
// What installation leaves behind, read the way the shell and Windows read it:
// shortcuts through IShellLinkA, the machine's registry, pending deletions at restart.
#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "E2eSupport.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace setuptest {

inline constexpr char kHelperKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Browser Helper Objects\\"
    "{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}";
// The files of the program folder, as packed.
inline const std::vector<std::string> kProductFiles = {
    "QUELLOR.EXE", "QUELLOR.DLL", "QUELLOR64.DLL", "quellor.chm",
    "license.txt", "gunshot.wav", "whoosh.wav",    "laser.wav"};
inline constexpr char kClsidServer[] =
    "CLSID\\{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}\\InprocServer32";
inline constexpr char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quellor";

inline std::string Lower(std::string text)
{
    CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

inline std::string SpecialFolder(int csidl)
{
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    std::string folder = path;
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
}

// Where setup puts its shortcuts: the machine's folders from Windows Vista on (Wine reports
// Windows 7), the installing user's own before.
inline std::string StartupFolder(bool machine = true)
{
    return SpecialFolder(machine ? CSIDL_COMMON_STARTUP : CSIDL_STARTUP);
}
inline std::string ProgramGroup(bool machine = true)
{
    return SpecialFolder(machine ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS) + "Quellor";
}

struct Shortcut {
    std::string target, workingFolder, description, arguments, iconFile;
    int iconIndex = -1;
};

// Loads a .lnk file as the shell does; nothing when it cannot be loaded.
inline std::optional<Shortcut> ReadShortcut(const std::string& path)
{
    HRESULT init = CoInitialize(nullptr);
    std::optional<Shortcut> result;
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        wchar_t wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            SUCCEEDED(file->Load(wide, STGM_READ))) {
            char buffer[1024] = {};
            Shortcut s;
            if (SUCCEEDED(link->GetPath(buffer, sizeof buffer, nullptr, SLGP_RAWPATH)))
                s.target = buffer;
            buffer[0] = 0;
            if (SUCCEEDED(link->GetWorkingDirectory(buffer, sizeof buffer)))
                s.workingFolder = buffer;
            buffer[0] = 0;
            if (SUCCEEDED(link->GetDescription(buffer, sizeof buffer))) s.description = buffer;
            buffer[0] = 0;
            if (SUCCEEDED(link->GetArguments(buffer, sizeof buffer))) s.arguments = buffer;
            buffer[0] = 0;
            if (SUCCEEDED(link->GetIconLocation(buffer, sizeof buffer, &s.iconIndex)))
                s.iconFile = buffer;
            result = s;
        }
        if (file) file->Release();
        link->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return result;
}

// The names of the files in a folder, sorted; empty when the folder is missing.
inline std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

// `view` is 0 for this process's own view of the registry, or KEY_WOW64_64KEY or
// KEY_WOW64_32KEY for one of the two views of 64-bit Windows.
inline bool KeyExists(HKEY root, const std::string& path, REGSAM view = 0)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

inline std::optional<std::string> StringValue(HKEY root, const std::string& path, const char* name,
                                              REGSAM view = 0)
{
    char buffer[2048] = {};
    DWORD size = sizeof buffer - 1, type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return {};
    LONG result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) return {};
    return std::string(buffer);
}

inline DWORD ValueCount(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    DWORD values = 0;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return values;
}

inline std::optional<DWORD> DwordValue(HKEY root, const std::string& path, const char* name,
                                       REGSAM view = 0)
{
    DWORD data = 0, size = sizeof data, type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return {};
    LONG result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_DWORD) return {};
    return data;
}

// Deletes a key and everything below it in one view of the registry.
inline void DeleteKeyTreeIn(HKEY root, const std::string& path, REGSAM view)
{
    HKEY key = nullptr;
    std::vector<std::string> children;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
        char name[256];
        DWORD length = sizeof name;
        while (RegEnumKeyExA(key, static_cast<DWORD>(children.size()), name, &length, nullptr,
                             nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            children.push_back(name);
            length = sizeof name;
        }
        RegCloseKey(key);
    }
    for (const std::string& child : children)
        DeleteKeyTreeIn(root, path + "\\" + child, view);
    RegDeleteKeyExA(root, path.c_str(), view, 0);
}

inline unsigned long long FolderBytes(const std::string& folder)
{
    unsigned long long bytes = 0;
    for (const std::string& name : FilesIn(folder)) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExA((folder + "\\" + name).c_str(), GetFileExInfoStandard, &data))
            bytes +=
                (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return bytes;
}

// The entry of the installed program as Add or Remove Programs reads it. `program` is the
// full path of the program file in a folder whose path holds blanks.
inline void ExpectUninstallEntry(const std::string& program)
{
    const std::string folder = program.substr(0, program.find_last_of('\\'));
    EXPECT_EQ(ValueCount(HKEY_LOCAL_MACHINE, kUninstallKey), 11u);
    struct Value {
        const char* name;
        std::string expected;
    };
    for (const Value& v : {
             Value{"DisplayName", "Quellor"},
             // Quoted: unquoted, Windows could take C:\users\...\quellor for the program.
             Value{"UninstallString", "\"" + program + "\" -u"},
             Value{"DisplayIcon", program + ",0"},
             Value{"DisplayVersion", QUELLOR_VERSION},
             Value{"Publisher", "Tandrel"},
             Value{"InstallLocation", folder},
             Value{"URLInfoAbout", "http://quellor.example.com/"},
             Value{"HelpLink", "http://quellor.example.com/"},
         }) {
        std::optional<std::string> data = StringValue(HKEY_LOCAL_MACHINE, kUninstallKey, v.name);
        ASSERT_TRUE(data) << v.name << " missing or not a string";
        EXPECT_EQ(Lower(*data), Lower(v.expected)) << v.name;
    }
    EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, "NoModify"), 1u);
    EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, "NoRepair"), 1u);
    // The program may have written its rule file since; a few KB either way.
    std::optional<DWORD> size = DwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, "EstimatedSize");
    ASSERT_TRUE(size) << "EstimatedSize missing or not a number";
    EXPECT_NEAR(static_cast<double>(*size), static_cast<double>(FolderBytes(folder)) / 1024, 8);
}

// PendingFileRenameOperations: pairs of (source, target) in NT form ("\??\C:\..."); an
// empty target means "delete at restart".
inline std::vector<std::string> ReadPendingOperations()
{
    std::vector<std::string> items;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return items;
    DWORD size = 0, type = 0;
    std::wstring data;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS &&
        type == REG_MULTI_SZ && size > 0) {
        data.resize(size / sizeof(wchar_t) + 1);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(size / sizeof(wchar_t));
    }
    RegCloseKey(key);
    // Strings are separated by one zero; the list ends with two. Empty strings (empty
    // targets) lie inside the list, so split on every zero and drop the end marker.
    size_t start = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] != L'\0') continue;
        std::wstring item = data.substr(start, i - start);
        char narrow[2048] = {};
        WideCharToMultiByte(CP_ACP, 0, item.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
        items.push_back(narrow);
        start = i + 1;
    }
    if (items.size() % 2) items.pop_back(); // the final empty string of the double zero
    return items;
}

// Files and folders scheduled for deletion at restart whose path starts with the folder,
// in the order scheduled, lower-cased, as DOS paths.
inline std::vector<std::string> PendingDeletionsUnder(const std::string& folder)
{
    std::vector<std::string> found;
    std::vector<std::string> items = ReadPendingOperations();
    std::string prefix = Lower(folder);
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        std::string source = items[i];
        if (source.rfind("\\??\\", 0) == 0) source.erase(0, 4);
        source = Lower(source);
        if (items[i + 1].empty() && source.rfind(prefix, 0) == 0) found.push_back(source);
    }
    return found;
}

// Takes this test's entries out again, so that no later restart of the prefix acts on them.
inline void ForgetPendingOperationsUnder(const std::string& folder)
{
    std::vector<std::string> items = ReadPendingOperations();
    std::wstring kept;
    std::string prefix = Lower(folder);
    bool changed = false;
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        std::string source = Lower(items[i]);
        if (source.rfind("\\??\\", 0) == 0) source.erase(0, 4);
        if (source.rfind(prefix, 0) == 0) {
            changed = true;
            continue;
        }
        for (const std::string* item : {&items[i], &items[i + 1]}) {
            wchar_t wide[2048] = {};
            MultiByteToWideChar(CP_ACP, 0, item->c_str(), -1, wide, 2048);
            kept += wide;
            kept += L'\0';
        }
    }
    if (!changed) return;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (kept.empty()) {
        RegDeleteValueW(key, L"PendingFileRenameOperations");
    } else {
        kept += L'\0';
        RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

// A registry link to a key that does not exist: opening or creating the key through it
// fails, as when the user may not write there. Volatile, so a restart of the registry
// takes it away even if a test cannot.
inline bool MakeDanglingLink(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr,
                        REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const wchar_t target[] = L"\\Registry\\Machine\\Software\\Quellor Test Nowhere\\Key";
    LONG result =
        RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                       reinterpret_cast<const BYTE*>(target), sizeof target - sizeof(wchar_t));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// Deletes the key itself, also when it is a link (which RegDeleteKey would follow).
inline void DeleteKeyOrLink(HKEY root, const std::string& path)
{
    using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
    auto ntDeleteKey = reinterpret_cast<NtDeleteKeyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    size_t slash = path.find_last_of('\\');
    HKEY parent = nullptr, key = nullptr;
    if (!ntDeleteKey || RegOpenKeyExA(root, path.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS,
                                      &parent) != ERROR_SUCCESS)
        return;
    if (RegOpenKeyExA(parent, path.substr(slash + 1).c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS,
                      &key) == ERROR_SUCCESS) {
        ntDeleteKey(key);
        RegCloseKey(key);
    }
    RegCloseKey(parent);
}

// Removes whatever an installation left in the Start menu, the Startup folder and the
// machine's registry, so that a test starts from "not installed".
inline void RemoveInstallation()
{
    for (bool machine : {true, false}) {
        DeleteFileA((StartupFolder(machine) + "Quellor.lnk").c_str());
        std::string group = ProgramGroup(machine);
        for (const std::string& name : FilesIn(group))
            DeleteFileA((group + "\\" + name).c_str());
        RemoveDirectoryA(group.c_str());
        DeleteFileA(group.c_str()); // a test may have blocked the group with a file
    }
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, kHelperKey);
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    DeleteKeyOrLink(HKEY_LOCAL_MACHINE, kUninstallKey);
}

// What setup shows: the boxes the robot reads, and a run of QUELLOR.EXE with a switch.
inline constexpr char kInstalled[] = "Quellor has been successfully installed and is now running.";
inline constexpr char kInstallFailed[] =
    "Quellor installation FAILED. Unable to register QUELLOR.DLL";
inline constexpr char kConfirm[] = "Do you wish to completely uninstall Quellor";
inline constexpr char kUnregisterFailed[] =
    "Unregister of QUELLOR.DLL failed. The file will be removed after reboot.";
inline constexpr char kUninstalled[] = "Quellor has been successfully uninstalled.";

struct Box {
    std::string caption, text, icon;
    std::vector<std::string> buttons;
};
inline const Box kInstalledBox{"Quellor", kInstalled, "none", {"OK"}};
inline const Box kInstallFailedBox{"Quellor", kInstallFailed, "none", {"OK"}};
inline const Box kConfirmBox{"Confirm", kConfirm, "question", {"Yes", "No"}};
inline const Box kUnregisterFailedBox{"Quellor", kUnregisterFailed, "none", {"OK"}};
inline const Box kUninstalledBox{"Uninstall Completed", kUninstalled, "information", {"OK"}};

inline std::string Describe(const std::vector<robot::DialogSeen>& seen)
{
    std::string out;
    for (const robot::DialogSeen& d : seen) {
        out += "\n  [" + d.caption + "] \"" + d.text + "\" icon " + d.icon + " buttons";
        for (const std::string& b : d.buttons)
            out += " " + b;
    }
    return out.empty() ? "\n  (no box)" : out;
}

inline void ExpectBoxes(const std::vector<robot::DialogSeen>& seen,
                        const std::vector<Box>& expected)
{
    ASSERT_EQ(seen.size(), expected.size()) << Describe(seen);
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].caption, expected[i].caption) << "box " << i << Describe(seen);
        EXPECT_EQ(seen[i].text, expected[i].text) << "box " << i;
        EXPECT_EQ(seen[i].icon, expected[i].icon) << "box " << i;
        EXPECT_EQ(seen[i].buttons, expected[i].buttons) << "box " << i;
    }
}

// A process started from a whole command line, as Windows starts an UninstallString.
class Started {
  public:
    Started(const std::string& commandLine, const std::string& folder)
    {
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder.c_str(), &startup, &info_))
            info_ = {};
    }
    ~Started()
    {
        if (!info_.hProcess) return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, 5000);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;
    explicit operator bool() const { return info_.hProcess != nullptr; }
    DWORD Pid() const { return info_.dwProcessId; }
    bool WaitExit(DWORD ms) const
    {
        return WaitForSingleObject(info_.hProcess, ms) == WAIT_OBJECT_0;
    }

  private:
    PROCESS_INFORMATION info_{};
};

struct Outcome {
    std::vector<robot::DialogSeen> boxes;
    bool startedNormally = false; // a main window and its tray icon appeared
    // ...in another process, which the desktop's shell started (from Windows Vista on).
    bool handedOver = false;
    bool endedByItself = false;
};

// The name of the program file that started the process, as the system lists processes.
inline std::string ParentProgram(DWORD pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return {};
    std::vector<PROCESSENTRY32> entries;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        entries.push_back(entry);
    CloseHandle(snapshot);
    for (const PROCESSENTRY32& child : entries)
        if (child.th32ProcessID == pid)
            for (const PROCESSENTRY32& parent : entries)
                if (parent.th32ProcessID == child.th32ParentProcessID)
                    return Lower(parent.szExeFile);
    return {};
}

// A main window of Quellor in a process other than this test's and `pid`.
inline HWND MainWindowNotOf(DWORD pid)
{
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "TfrmMain", "Quellor")) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != pid && owner != GetCurrentProcessId()) return window;
    }
    return nullptr;
}

// Ends a tray program as the session's end would, or by force when it does not go.
inline void EndTrayProgram(HWND main)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    if (process && WaitForSingleObject(process, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process, 1);
    if (process) CloseHandle(process);
}

// Runs the command line with the robot answering `script`, waits for `boxes` boxes, then
// either for the normal start (which it ends as the session's end would) or for the end.
inline Outcome RunQuellor(const std::string& commandLine, const std::string& folder,
                          const std::vector<std::string>& script, size_t boxes, bool normalStart)
{
    Outcome outcome;
    int trayBefore = e2e::TrayIconsWidth();
    Started quellor(commandLine, folder);
    EXPECT_TRUE(quellor) << commandLine;
    if (!quellor) return outcome;
    {
        robot::Robot robot(quellor.Pid(), script);
        robot.WaitForCount(boxes, 30000);
        if (normalStart) {
            // From Vista on another process, which this one handed the start to; before,
            // this one, once its icon is in the tray.
            HWND main = nullptr;
            DWORD pid = 0;
            outcome.startedNormally = e2e::WaitFor(
                [&] {
                    main = MainWindowNotOf(quellor.Pid());
                    if (!main && e2e::TrayIconsWidth() >= trayBefore + 16)
                        main = robot::FindTopWindow(quellor.Pid(), "TfrmMain", "Quellor", 0);
                    return main != nullptr;
                },
                10000);
            if (main) GetWindowThreadProcessId(main, &pid);
            outcome.handedOver =
                main && pid != quellor.Pid() && ParentProgram(pid) == "explorer.exe";
            if (outcome.handedOver)
                outcome.startedNormally =
                    e2e::WaitFor([&] { return e2e::TrayIconsWidth() >= trayBefore + 16; }, 5000);
            if (main) EndTrayProgram(main);
        }
        outcome.endedByItself = quellor.WaitExit(20000);
        outcome.boxes = robot.Seen();
    }
    return outcome;
}

inline std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// A test's program folders: made fresh, and forgotten by the restart's pending deletions
// at its end.
class ProgramFolders : public ::testing::Test {
  protected:
    void ForgetFolders()
    {
        for (const std::string& folder : folders_)
            ForgetPendingOperationsUnder(folder);
    }

    std::string Folder(const std::string& hint, const std::vector<std::string>& files,
                       const std::string& exeName = "QUELLOR.EXE")
    {
        folders_.push_back(e2e::FreshProgramFolder(hint, files, exeName));
        return folders_.back();
    }

    // A folder that /i has been run in, with the robot accepting the success box.
    std::string InstalledFolder(const std::string& hint)
    {
        std::string folder = Folder(hint, kProductFiles);
        Outcome install =
            RunQuellor(Quoted(folder + "QUELLOR.EXE") + " /i", folder, {"OK"}, 1, true);
        EXPECT_NO_FATAL_FAILURE(ExpectBoxes(install.boxes, {kInstalledBox}));
        EXPECT_TRUE(install.startedNormally);
        return folder;
    }

  private:
    std::vector<std::string> folders_;
};

} // namespace setuptest

// Libraries of the system with a planted copy of the same name in the program folder, as
// an unpacked zip in a folder the user can write may hold: the system's own are used.
#include "E2eSupport.h"
#include "KazaaClient.h"

namespace {

// Wine prefers its own build of a library it ships, wherever a copy is found. Told to
// prefer the file for QUELLOR.EXE, it loads a planted copy from the program folder as
// Windows would (only the registry reaches a process started from here).
class PreferFilesFor {
  public:
    explicit PreferFilesFor(std::vector<std::string> libraries) : libraries_(std::move(libraries))
    {
        RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key_, nullptr);
        for (const std::string& library : libraries_)
            RegSetValueExA(key_, library.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("native,builtin"), 15);
    }
    ~PreferFilesFor()
    {
        for (const std::string& library : libraries_)
            RegDeleteValueA(key_, library.c_str());
        RegCloseKey(key_);
    }

  private:
    static constexpr char kKey[] = "Software\\Wine\\AppDefaults\\QUELLOR.EXE\\DllOverrides";
    std::vector<std::string> libraries_;
    HKEY key_ = nullptr;
};

} // namespace

TEST(PlantedLibraries, AccessibilityAndHelpLibrariesComeFromTheSystemFolder)
{
    const char* const libraries[] = {"Oleacc.dll", "hhctrl.ocx"};
    PreferFilesFor planted({"oleacc", "hhctrl.ocx"});
    // First, that the planting works: a program of the same name that asks for each
    // library by its bare name gets the copy beside it.
    std::string probe = e2e::FreshProgramFolder("planted probe", {});
    testsupport::CopyFileOrFail(testsupport::HostPath(BARE_LOADER_EXE), probe + "QUELLOR.EXE");
    for (const char* name : libraries) {
        testsupport::CopyFileOrFail(testsupport::HostPath(REFUSING_DLL), probe + name);
        robot::Process loader = robot::Process::Start(probe + "QUELLOR.EXE", name, probe);
        DWORD code = 99;
        EXPECT_TRUE(loader.WaitExit(10000, &code));
        EXPECT_EQ(code, 0u) << name;
        EXPECT_TRUE(testsupport::FileExists(probe + name + ".loaded")) << name << " not planted";
    }

    std::string folder = e2e::FreshProgramFolder("planted", {"QUELLOR.EXE", "quellor.chm"});
    for (const char* name : libraries)
        testsupport::CopyFileOrFail(testsupport::HostPath(REFUSING_DLL), folder + name);
    HKEY settings = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tandrel\\Quellor", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &settings, nullptr),
              ERROR_SUCCESS);
    DWORD ticked = 1;
    RegSetValueExA(settings, "BlockFileSharingAds", 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&ticked), sizeof ticked);

    testsupport::KazaaClient client;
    ASSERT_TRUE(client.Started());
    robot::Process quellor = robot::Process::Start(folder + "QUELLOR.EXE", "", folder);
    HWND main = robot::FindTopWindow(quellor.Pid(), "TfrmMain", "Quellor", 10000);
    ASSERT_TRUE(main);

    // The page is asked for only through the real library's entry point.
    EXPECT_TRUE(e2e::WaitFor([&] { return client.Count("getobject") > 0; }, 10000));
    PostMessageA(main, WM_KEYDOWN, VK_F1, 0);
    EXPECT_TRUE(robot::FindTopWindow(quellor.Pid(), nullptr, "Quellor Help", 10000));
    for (const char* name : libraries)
        EXPECT_FALSE(testsupport::FileExists(folder + name + ".loaded")) << name << " ran";

    DWORD_PTR answer = 0;
    SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    quellor.WaitExit(10000, nullptr);
    RegDeleteValueA(settings, "BlockFileSharingAds");
    RegCloseKey(settings);
}

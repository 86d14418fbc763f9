#pragma once
// A real TfrmMain in a fresh program folder, with the settings key removed first and
// every message box recorded instead of shown.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Paths.h"
#include "app/Sound.h"
#include "app/frmMain.h"

struct RecordedBox {
    std::string text;
    std::string caption;
    UINT flags;
    HWND owner = nullptr;
};

class MainFormTest : public ::testing::Test {
protected:
    static constexpr char kSettingsKey[] = "Software\\Tandrel\\Quellor";

    void SetUp() override
    {
        folder = testsupport::FreshFolder("form");
        app::SetProgramPathForTests(folder + "QUELLOR.EXE");
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        testsupport::PolicyKeys::Clear();
        ui::Application().ResetTerminated();
        ui::Application().MessageBoxHook = [this](HWND owner, const std::string& text,
                                                  const std::string& caption, UINT flags) {
            boxes.push_back({text, caption, flags, owner});
            return answer;
        };
        app::PlaySoundHook = [this](const std::string& file, DWORD flags) {
            sounds.emplace_back(file, flags);
        };
        BeforeCreate();
        form = std::make_unique<TfrmMain>();
        ui::Application().SetMainForm(form.get());
    }

    void TearDown() override
    {
        form.reset();
        ui::Application().SetMainForm(nullptr);
        ui::Application().MessageBoxHook = nullptr;
        app::PlaySoundHook = nullptr;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        ui::Application().ResetTerminated();
    }

    // Runs before the window is created (to lay down files or registry values).
    virtual void BeforeCreate() {}

    void Pump(DWORD ms = 50) { testsupport::PumpFor(ms); }

    // The user's own files, from Windows Vista on, in the profile that the test's program
    // folder stands in for.
    std::string RuleFolder() const { return folder + "AppData\\Local\\Tandrel\\Quellor\\"; }
    std::string LogFolder() const { return folder + "AppData\\LocalLow\\Tandrel\\Quellor\\"; }

    std::string folder;
    std::unique_ptr<TfrmMain> form;
    std::vector<RecordedBox> boxes;
    std::vector<std::pair<std::string, DWORD>> sounds;
    int answer = IDOK;
};

// Kill notifications through the real window: the tray icon as the shell draws it, the
// alert sound through the sound seam (no sound can be heard under Wine), the preview.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MainFormFixture.h"
#include "SettingsKey.h"

namespace {

using testsupport::PumpUntil;
using testsupport::TrayPixels;

void Click(ui::TControl& control)
{
    SendMessageA(control.Handle(), BM_CLICK, 0, 0);
}

} // namespace

class AlertsTest : public MainFormTest {
  protected:
    UINT Kill() const { return RegisterWindowMessageA("WM_POPUP_KILLED"); }

    // The tray once the shell has drawn our icon and nothing moves any more.
    std::vector<DWORD> SettledTray()
    {
        std::vector<DWORD> last = TrayPixels();
        PumpUntil(
            [&] {
                Pump(150);
                std::vector<DWORD> now = TrayPixels();
                bool same = now == last;
                last = now;
                return same && !now.empty();
            },
            5000);
        return last;
    }

    // Records each tick of the tray animation: the icon it leaves in the record.
    void RecordTicks()
    {
        auto handler = form->tmrSysTrayAnimate.OnTimer;
        form->tmrSysTrayAnimate.OnTimer = [this, handler](ui::TObject* sender) {
            handler(sender);
            icons.push_back(form->TrayIconData.hIcon);
        };
    }

    void ExpectNothingHappens(const std::string& what)
    {
        Pump(600);
        EXPECT_FALSE(form->tmrSysTrayAnimate.Enabled()) << what;
        EXPECT_EQ(form->AnimationStep, 0) << what;
        EXPECT_EQ(form->TrayIconData.hIcon, form->TrayMainIcon()) << what;
        EXPECT_TRUE(sounds.empty()) << what;
        EXPECT_TRUE(icons.empty()) << what;
    }

    std::vector<HICON> icons;
};

TEST_F(AlertsTest, OneKillFlashesTheTrayIconTwiceAndPlaysTheSoundOnce)
{
    std::vector<DWORD> normal = SettledTray();
    ASSERT_FALSE(normal.empty()) << "no tray to look at";
    for (const char* sound : {"C:\\Sounds\\gunshot.wav", ""}) {
        form->txtAudioAlert.SetText(sound);
        sounds.clear();
        SendMessageA(form->Handle(), Kill(), 0, 0);
        ASSERT_TRUE(form->tmrSysTrayAnimate.Enabled());
        // The test makes the ticks itself, so that it can wait for the shell between them.
        KillTimer(form->Handle(), form->tmrSysTrayAnimate.Id());

        std::vector<DWORD> alert;
        const struct {
            bool alertIcon;
            size_t soundsSoFar;
            bool running;
        } ticks[] = {
            {true, 1, true}, {false, 1, true}, {true, 1, true}, {false, 1, true}, {false, 1, false},
        };
        for (size_t i = 0; i < std::size(ticks); ++i) {
            const auto& t = ticks[i];
            SendMessageA(form->Handle(), WM_TIMER, form->tmrSysTrayAnimate.Id(), 0);
            EXPECT_EQ(form->TrayIconData.hIcon,
                      t.alertIcon ? form->TrayAlertIcon() : form->TrayMainIcon())
                << "tick " << i;
            EXPECT_EQ(sounds.size(), *sound ? t.soundsSoFar : 0) << "tick " << i;
            EXPECT_EQ(form->tmrSysTrayAnimate.Enabled(), t.running) << "tick " << i;
            // What the shell shows: the alert icon differs from the normal one, the same
            // alert picture both times, and the normal icon back exactly as it was.
            if (t.alertIcon && alert.empty()) {
                EXPECT_TRUE(PumpUntil([&] { return (alert = TrayPixels()) != normal; }, 3000))
                    << "tick " << i;
            } else {
                const std::vector<DWORD>& want = t.alertIcon ? alert : normal;
                EXPECT_TRUE(PumpUntil([&] { return TrayPixels() == want; }, 3000)) << "tick " << i;
            }
            if (i == 1) {
                form->Show(); // showing or hiding the window leaves the animation alone
                form->Hide();
                EXPECT_TRUE(form->tmrSysTrayAnimate.Enabled());
            }
        }
        EXPECT_EQ(form->AnimationStep, 0);
        if (*sound) {
            EXPECT_EQ(sounds[0].first, sound);
            EXPECT_EQ(sounds[0].second, static_cast<DWORD>(SND_FILENAME | SND_ASYNC));
        }
    }
}

TEST_F(AlertsTest, ASecondKillDuringTheAnimationStartsItAgainFromStepZero)
{
    RecordTicks();
    form->txtAudioAlert.SetText("C:\\Sounds\\whoosh.wav");
    DWORD start = GetTickCount();
    PostMessageA(form->Handle(), Kill(), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !icons.empty() && GetTickCount() - start >= 300; }, 5000));
    size_t before = icons.size();
    ASSERT_LT(before, 5u) << "the first animation ended before the second kill";
    PostMessageA(form->Handle(), Kill(), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !form->tmrSysTrayAnimate.Enabled(); }, 5000));

    HICON a = form->TrayAlertIcon(), m = form->TrayMainIcon();
    std::vector<HICON> sequence = {a, m, a, m};
    std::vector<HICON> expected(sequence.begin(), sequence.begin() + before);
    for (HICON icon : {a, m, a, m, m})
        expected.push_back(icon);
    EXPECT_EQ(icons, expected) << before << " tick(s) before the second kill";
    ASSERT_EQ(sounds.size(), 2u) << "step 0 came twice";
    EXPECT_EQ(sounds[1].first, "C:\\Sounds\\whoosh.wav");
    EXPECT_EQ(form->TrayIconData.hIcon, m);
}

TEST_F(AlertsTest, OnlyTheKillMessageWithTheVisualAlertTickedAnimates)
{
    RecordTicks();
    form->txtAudioAlert.SetText("C:\\Sounds\\laser.wav");
    UINT other = RegisterWindowMessageA("WM_POPUP_KILLED_TOO");
    const struct {
        const char* what;
        UINT message;
        bool visualAlert;
    } cases[] = {
        {"kill, visual alert off", Kill(), false},
        {"another registered message", other, true},
        {"a user message", WM_USER + 1, true},
    };
    for (const auto& c : cases) {
        if (form->chkVisualAlert.Checked() != c.visualAlert) Click(form->chkVisualAlert);
        PostMessageA(form->Handle(), c.message, 0, 0);
        ExpectNothingHappens(c.what);
    }
    EXPECT_EQ(settingskey::Get("TrayAnimate"), std::nullopt) << "nothing was applied";
}

class AlertsUnappliedTest : public AlertsTest {
  protected:
    void BeforeCreate() override { settingskey::SetDword("TrayAnimate", 0); }
};

TEST_F(AlertsUnappliedTest, TheControlsCountAppliedOrNot)
{
    RecordTicks();
    PostMessageA(form->Handle(), Kill(), 0, 0);
    ExpectNothingHappens("visual alert stored off");

    // Ticked and a name typed, neither applied: the next kill uses both.
    Click(form->chkVisualAlert);
    Click(form->chkAudioAlert);
    for (char key : std::string("C:\\typed.wav"))
        SendMessageA(form->txtAudioAlert.Handle(), WM_CHAR, static_cast<unsigned char>(key), 0);
    ASSERT_TRUE(form->btnApply.Enabled());
    PostMessageA(form->Handle(), Kill(), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return icons.size() == 5; }, 5000));
    EXPECT_FALSE(form->tmrSysTrayAnimate.Enabled());
    ASSERT_EQ(sounds.size(), 1u);
    EXPECT_EQ(sounds[0].first, "C:\\typed.wav");
    EXPECT_EQ(settingskey::Get("TrayAnimate"),
              (settingskey::Raw{REG_DWORD, settingskey::Dword(0)}));
}

TEST_F(AlertsTest, ThePreviewSwapsTheTwoPicturesWhileTheVisualAlertIsTicked)
{
    ASSERT_TRUE(form->chkVisualAlert.Checked());
    ASSERT_TRUE(form->tmrAnimate.Enabled());
    EXPECT_EQ(form->tmrAnimate.Interval(), 250u);
    EXPECT_EQ(form->imgAnimateOn.Icon(), form->MainIcon());
    EXPECT_EQ(form->imgAnimateOff.Icon(), form->AlertIcon());
    RECT on = form->imgAnimateOn.Bounds(), off = form->imgAnimateOff.Bounds();
    EXPECT_EQ(on.left + 1, off.left) << "stacked almost on the same spot";
    EXPECT_EQ(on.top, off.top);

    for (int tick = 1; tick <= 4; ++tick) {
        SendMessageA(form->Handle(), WM_TIMER, form->tmrAnimate.Id(), 0);
        bool alertShown = tick % 2 == 1;
        EXPECT_EQ(form->imgAnimateOff.Visible(), alertShown) << tick;
        EXPECT_EQ(form->imgAnimateOn.Visible(), !alertShown) << tick;
    }
    SendMessageA(form->Handle(), WM_TIMER, form->tmrAnimate.Id(), 0); // the alert picture
    Click(form->chkVisualAlert);
    EXPECT_FALSE(form->tmrAnimate.Enabled());
    EXPECT_TRUE(form->imgAnimateOn.Visible()) << "stopped on the normal picture";
    EXPECT_FALSE(form->imgAnimateOff.Visible());
}

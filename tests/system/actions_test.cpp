// The system family's rules on a recording fake desktop: clamping, the
// unmute that comes with a volume change, the brightness steps, the
// refusals and what they are called, the lock permission, the one
// keep-awake hold and the delayed sleep.
#include "commands/system_actions.h"
#include "platform/fake/fake_system_controls.h"
#include "support/pump.h"
#include "support/scratch_settings.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <limits>

namespace orvane {
namespace {

using Calls = std::vector<std::string>;

class Actions : public ::testing::Test {
protected:
    SystemActions& actions()
    {
        if (!m_actions)
            m_actions = std::make_unique<SystemActions>(
                fake, [this] { return accessibility; }, scratch.settings);
        return *m_actions;
    }
    // What the phone is told, "failed: " before a failure.
    std::string run(const SystemAction& action)
    {
        const CommandResult r = actions().perform(action);
        return (r.success ? "" : "failed: ") + r.message.toStdString();
    }
    void destroyActions() { m_actions.reset(); }

    FakeSystemControls fake;
    bool accessibility = true;
    test::ScratchSettings scratch;

private:
    std::unique_ptr<SystemActions> m_actions;
};

TEST_F(Actions, EachActionChangesWhatItShouldAndSaysSo)
{
    constexpr auto maxInput = std::numeric_limits<std::int64_t>::max();
    constexpr auto minInput = std::numeric_limits<std::int64_t>::min();
    const std::string noAccess = "failed: Accessibility permission required on the Mac";
    const std::string up = "Brightness up", down = "Brightness down";
    const std::string noVolume = "failed: Couldn't change the volume";
    const std::string noBrightness = "failed: Couldn't change the brightness";
    const auto level = [](int v) { return Calls{"volume " + std::to_string(v), "muted 0"}; };
    using O = OutputLevel;
    using B = BacklightLevel;
    // How the fake desktop is before the action; nothing means it cannot say.
    struct World {
        std::optional<OutputLevel> output = O{40, false};
        std::optional<BacklightLevel> backlight = std::nullopt;
        std::optional<bool> dark = false;
        bool appearanceWritable = true;
        bool accessibility = true;
        bool sessionAnswers = true;
        bool obeys = true;
    };
    const struct {
        World world;
        SystemAction action;
        std::string said;
        Calls calls;
    } cases[] = {
        // Every level change also unmutes; an unreadable level counts as 0.
        {{}, sys::VolumeUp{}, "Volume 50%", level(50)},
        {{}, sys::VolumeDown{}, "Volume 30%", level(30)},
        {{}, sys::SetVolume{maxInput}, "Volume 100%", level(100)},
        {{}, sys::SetVolume{minInput}, "Volume 0%", level(0)},
        {{}, sys::SetVolume{73}, "Volume 73%", level(73)},
        {{}, sys::ToggleMute{}, "Muted", {"muted 1"}},
        {{.output = O{30, true}}, sys::ToggleMute{}, "Unmuted", {"muted 0"}},
        // No sound server, or one that refuses: no level is claimed.
        {{.output = {}}, sys::VolumeUp{}, noVolume, {"volume 10"}},
        {{.output = {}}, sys::ToggleMute{}, noVolume, {"muted 1"}},
        {{.obeys = false}, sys::SetVolume{73}, noVolume, {"volume 73"}},
        {{.obeys = false}, sys::VolumeDown{}, noVolume, {"volume 30"}},
        // A sixteenth of the range, at least one level, within the range.
        {{.backlight = B{100, 255}}, sys::BrightnessUp{}, up, {"backlight 115"}},
        {{.backlight = B{250, 255}}, sys::BrightnessUp{}, up, {"backlight 255"}},
        {{.backlight = B{5, 255}}, sys::BrightnessDown{}, down, {"backlight 0"}},
        {{.backlight = B{3, 10}}, sys::BrightnessUp{}, up, {"backlight 4"}},
        {{.backlight = B{900, 255}}, sys::BrightnessDown{}, down, {"backlight 240"}},
        {{.backlight = B{0, 0}}, sys::BrightnessUp{}, noBrightness, {}},
        {{}, sys::BrightnessDown{}, noBrightness, {}},
        {{.backlight = B{5, 255}, .obeys = false},
         sys::BrightnessUp{},
         noBrightness,
         {"backlight 20"}},
        // The appearance is told as it is read back after the change.
        {{}, sys::ToggleDarkMode{}, "Dark mode on", {"dark 1"}},
        {{.dark = true}, sys::ToggleDarkMode{}, "Light mode", {"dark 0"}},
        {{.dark = {}}, sys::ToggleDarkMode{}, "Dark mode on", {"dark 1"}},
        {{.appearanceWritable = false},
         sys::ToggleDarkMode{},
         "failed: Automation permission for System Events required on the Mac",
         {"dark 1"}},
        // Locking needs the input permission and a session that answers.
        {{}, sys::Lock{}, "⌃⌘Q", {"lock"}},
        {{.accessibility = false}, sys::Lock{}, noAccess, {}},
        {{.sessionAnswers = false}, sys::Lock{}, "failed: Couldn't lock the Mac", {"lock"}},
        {{}, sys::DisplaySleep{}, "Display turned off", {"display off"}},
        {{.obeys = false},
         sys::DisplaySleep{},
         "failed: Couldn't turn the display off",
         {"display off"}},
        // Asked first, so the answer leaves before the machine sleeps.
        {{.obeys = false}, sys::Sleep{}, "failed: Couldn't put the Mac to sleep", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        fake.calls.clear();
        fake.output = c.world.output;
        fake.backlightLevel = c.world.backlight;
        fake.dark = c.world.dark;
        fake.appearanceWritable = c.world.appearanceWritable;
        fake.sessionAnswers = c.world.sessionAnswers;
        fake.obeys = c.world.obeys;
        accessibility = c.world.accessibility;
        EXPECT_EQ(run(c.action), c.said);
        EXPECT_EQ(fake.calls, c.calls);
        // What the phone reads next is the desktop's level, never the one
        // a refused change asked for.
        EXPECT_EQ(actions().readSystemState().volume, fake.output ? fake.output->volume : 0);
    }
}

TEST_F(Actions, KeepAwakeHoldsOneInhibitorAndKeepsARefusedSwitch)
{
    int told = 0;
    actions().onKeepAwakeChanged = [&] { ++told; };
    EXPECT_EQ(run(sys::SetKeepAwake{true}), "The Mac stays awake");
    EXPECT_EQ(actions().keepAwakeHold(), (SleepHold{"logind", {}}));
    EXPECT_EQ(run(sys::SetKeepAwake{true}), "The Mac stays awake");
    EXPECT_EQ(run(sys::SetKeepAwake{false}), "The Mac can sleep again");
    scratch.settings.setKeepAwake(false); // the window's switch
    EXPECT_EQ(fake.calls, (Calls{"hold", "release"}));
    EXPECT_FALSE(scratch.settings.keepAwake());
    scratch.settings.setKeepAwake(true);
    EXPECT_EQ(fake.inhibitorsHeld, 1) << "a switch changed elsewhere is applied too";
    scratch.settings.setKeepAwake(false);

    EXPECT_EQ(actions().keepAwakeHold(), SleepHold{}) << "off: nothing to explain";

    fake.sessionAnswers = false;
    told = 0;
    EXPECT_EQ(run(sys::SetKeepAwake{true}), "failed: Couldn't keep the Mac awake");
    EXPECT_TRUE(scratch.settings.keepAwake());
    EXPECT_EQ(actions().keepAwakeHold(), (SleepHold{{}, "no logind"}));
    EXPECT_FALSE(actions().readSystemState().keepsAwake) << "the phone hears what holds";
    // The session comes back: the next call takes the hold, and each try
    // is told, even one that changes no setting.
    fake.sessionAnswers = true;
    EXPECT_EQ(run(sys::SetKeepAwake{true}), "The Mac stays awake");
    EXPECT_EQ(fake.inhibitorsHeld, 1);
    EXPECT_EQ(told, 2);
    destroyActions();
    EXPECT_EQ(fake.inhibitorsHeld, 0);
}

TEST_F(Actions, StateIsReadFresh)
{
    fake.output = OutputLevel{64, true};
    fake.dark = true;
    scratch.settings.setKeepAwake(true);
    EXPECT_EQ(actions().readSystemState(), (SystemState{64, true, true, true}));
    fake.output.reset();
    fake.dark.reset();
    scratch.settings.setKeepAwake(false);
    EXPECT_EQ(actions().readSystemState(), (SystemState{0, false, false, false}));
}

TEST_F(Actions, SleepAnswersFirstAndSuspendsOnceLaterOrWhenTheActionsGo)
{
    EXPECT_EQ(run(sys::Sleep{}), "Mac is going to sleep");
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_TRUE(test::pumpUntil([&] { return !fake.calls.empty(); }, 10000));
    EXPECT_EQ(fake.calls, Calls{"suspend"});

    fake.calls.clear();
    run(sys::Sleep{});
    destroyActions();
    EXPECT_EQ(fake.calls, Calls{"suspend"});
    // A timer started now runs out after the one that went with the actions
    // would have: under the sanitizers a late run is a use after free.
    bool later = false;
    QTimer::singleShot(SystemActions::sleepDelayMs, [&] { later = true; });
    EXPECT_TRUE(test::pumpUntil([&] { return later; }, 10000));
    EXPECT_EQ(fake.calls, Calls{"suspend"});
}

} // namespace
} // namespace orvane

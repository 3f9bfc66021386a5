// The system family's rules on a recording fake desktop: clamping, the
// unmute that comes with a volume change, the brightness steps, the
// appearance refusal, the lock permission, the one keep-awake hold and the
// delayed sleep.
#include "commands/system_actions.h"
#include "support/scratch_settings.h"
#include "platform/fake/fake_system_controls.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <limits>

namespace orvane {
namespace {

using Calls = std::vector<std::string>;

class Actions : public ::testing::Test {
protected:
    SystemActions& actions()
    {
        if (!m_actions) {
            m_actions = std::make_unique<SystemActions>(
                fake, [this] { return accessibility; }, scratch.settings);
        }
        return *m_actions;
    }
    std::pair<bool, std::string> run(const SystemAction& action)
    {
        CommandResult r = actions().perform(action);
        return {r.success, r.message.toStdString()};
    }
    void destroyActions() { m_actions.reset(); }

    FakeSystemControls fake;
    bool accessibility = true;
    test::ScratchSettings scratch;

private:
    std::unique_ptr<SystemActions> m_actions;
};

TEST_F(Actions, VolumeIsClampedReportedAndUnmutes)
{
    constexpr auto maxInput = std::numeric_limits<std::int64_t>::max();
    constexpr auto minInput = std::numeric_limits<std::int64_t>::min();
    struct Case {
        const char* name;
        std::optional<int> before; // nothing: the sound server does not answer
        SystemAction action;
        int set;
    };
    const Case cases[] = {
        {"up near the top", 95, sys::VolumeUp{}, 100},
        {"up in the middle", 40, sys::VolumeUp{}, 50},
        {"down near the bottom", 3, sys::VolumeDown{}, 0},
        {"down in the middle", 40, sys::VolumeDown{}, 30},
        {"up from an unreadable level", std::nullopt, sys::VolumeUp{}, 10},
        {"set below zero", 50, sys::SetVolume{-20}, 0},
        {"set far above", 50, sys::SetVolume{1'000'000'000}, 100},
        {"set the largest integer", 50, sys::SetVolume{maxInput}, 100},
        {"set the smallest integer", 50, sys::SetVolume{minInput}, 0},
        {"set within range", 50, sys::SetVolume{73}, 73},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.calls.clear();
        fake.output = c.before ? std::optional(OutputLevel{*c.before, true}) : std::nullopt;
        auto [ok, message] = run(c.action);
        EXPECT_TRUE(ok);
        EXPECT_EQ(message, "Volume " + std::to_string(c.set) + "%");
        EXPECT_EQ(fake.calls, (Calls{"volume " + std::to_string(c.set), "muted 0"}));
    }
}

TEST_F(Actions, MuteTwiceReturnsToTheStart)
{
    fake.output = OutputLevel{30, false};
    EXPECT_EQ(run(sys::ToggleMute{}), std::pair(true, std::string("Muted")));
    EXPECT_TRUE(fake.output->muted);
    EXPECT_EQ(run(sys::ToggleMute{}), std::pair(true, std::string("Unmuted")));
    EXPECT_EQ(fake.output, (OutputLevel{30, false}));
    EXPECT_EQ(fake.calls, (Calls{"muted 1", "muted 0"}));
}

TEST_F(Actions, BrightnessMovesASixteenthOfTheRange)
{
    struct Case {
        std::optional<BacklightLevel> before;
        SystemAction action;
        std::optional<std::int64_t> set; // nothing: nothing to change
        const char* message;
    };
    const Case cases[] = {
        {BacklightLevel{100, 255}, sys::BrightnessUp{}, 115, "Brightness up"},
        {BacklightLevel{100, 255}, sys::BrightnessDown{}, 85, "Brightness down"},
        {BacklightLevel{250, 255}, sys::BrightnessUp{}, 255, "Brightness up"},
        {BacklightLevel{5, 255}, sys::BrightnessDown{}, 0, "Brightness down"},
        {BacklightLevel{3, 10}, sys::BrightnessUp{}, 4, "Brightness up"}, // fewer than 16 levels
        {BacklightLevel{900, 255}, sys::BrightnessDown{}, 240, "Brightness down"}, // above max
        {BacklightLevel{0, 0}, sys::BrightnessUp{}, std::nullopt, "Brightness up"},
        {std::nullopt, sys::BrightnessDown{}, std::nullopt, "Brightness down"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + std::string(" from ") +
                     (c.before ? std::to_string(c.before->value) : "none"));
        fake.calls.clear();
        fake.backlightLevel = c.before;
        EXPECT_EQ(run(c.action), std::pair(true, std::string(c.message)));
        EXPECT_EQ(fake.calls, c.set ? Calls{"backlight " + std::to_string(*c.set)} : Calls{});
    }
}

TEST_F(Actions, DarkModeReportsTheStateAfterTheChange)
{
    struct Case {
        std::optional<bool> before;
        bool writable;
        bool ok;
        const char* message;
        std::optional<bool> after;
    };
    const Case cases[] = {
        {false, true, true, "Dark mode on", true},
        {true, true, true, "Light mode", false},
        {std::nullopt, true, true, "Dark mode on", true}, // unreadable counts as light
        {false, false, false, "Automation permission for System Events required on the Mac", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        fake.dark = c.before;
        fake.appearanceWritable = c.writable;
        EXPECT_EQ(run(sys::ToggleDarkMode{}), std::pair(c.ok, std::string(c.message)));
        EXPECT_EQ(fake.dark, c.after);
    }
}

TEST_F(Actions, LockNeedsAccessibilityAndTheSession)
{
    struct Case {
        bool accessibility;
        bool sessionAnswers;
        bool ok;
        const char* message;
        Calls calls;
    };
    const Case cases[] = {
        {true, true, true, "⌃⌘Q", {"lock"}},
        {false, true, false, "Accessibility permission required on the Mac", {}},
        {true, false, false, "Accessibility permission required on the Mac", {"lock"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.accessibility) + std::to_string(c.sessionAnswers));
        fake.calls.clear();
        accessibility = c.accessibility;
        fake.sessionAnswers = c.sessionAnswers;
        EXPECT_EQ(run(sys::Lock{}), std::pair(c.ok, std::string(c.message)));
        EXPECT_EQ(fake.calls, c.calls);
    }
}

TEST_F(Actions, KeepAwakeHoldsOneInhibitor)
{
    EXPECT_EQ(run(sys::SetKeepAwake{true}), std::pair(true, std::string("The Mac stays awake")));
    EXPECT_EQ(run(sys::SetKeepAwake{true}), std::pair(true, std::string("The Mac stays awake")));
    EXPECT_EQ(run(sys::SetKeepAwake{false}),
              std::pair(true, std::string("The Mac can sleep again")));
    scratch.settings.setKeepAwake(false); // the window's switch
    EXPECT_EQ(fake.calls, (Calls{"hold", "release"}));
    EXPECT_FALSE(scratch.settings.keepAwake());
    EXPECT_EQ(fake.inhibitorsHeld, 0);
    scratch.settings.setKeepAwake(true);
    EXPECT_EQ(fake.inhibitorsHeld, 1) << "a switch changed elsewhere is applied too";
}

TEST_F(Actions, KeepAwakeRefusedIsAFailureButTheSwitchIsKept)
{
    fake.sessionAnswers = false;
    auto [ok, message] = run(sys::SetKeepAwake{true});
    EXPECT_FALSE(ok);
    EXPECT_EQ(message, "Couldn't keep the Mac awake");
    EXPECT_TRUE(scratch.settings.keepAwake());
    // The session comes back: the next call takes the hold.
    fake.sessionAnswers = true;
    EXPECT_EQ(run(sys::SetKeepAwake{true}), std::pair(true, std::string("The Mac stays awake")));
    EXPECT_EQ(fake.inhibitorsHeld, 1);
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

bool pumpUntilSuspended(const FakeSystemControls& fake)
{
    QDeadlineTimer deadline(10000);
    while (fake.calls.empty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return fake.calls == Calls{"suspend"};
}

TEST_F(Actions, SleepAnswersFirstAndSuspendsLater)
{
    EXPECT_EQ(run(sys::Sleep{}), std::pair(true, std::string("Mac is going to sleep")));
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_TRUE(pumpUntilSuspended(fake));
}

TEST_F(Actions, SleepStillHappensWhenTheActionsGoAwayFirst)
{
    run(sys::Sleep{});
    EXPECT_TRUE(fake.calls.empty());
    destroyActions();
    EXPECT_EQ(fake.calls, Calls{"suspend"});
    // The timer must have gone with its owner: under the sanitizers a late
    // run would be caught here as a use after free.
    QDeadlineTimer deadline(1500);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(fake.calls, Calls{"suspend"});
}

} // namespace
} // namespace orvane

// Keeping the machine awake with whatever the session offers: logind, else
// the desktop's screensaver service, else the X screensaver and DPMS (a
// recording stand-in here; tests/x11 drives the real server), and switching
// off gives back exactly what was taken.
#include "commands/system_actions.h"
#include "support/scratch_settings.h"
#include "platform/linux/linux_system_controls.h"
#include "service_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::FakeService;
using Calls = std::vector<std::string>;

struct IdleState {
    bool screenSaver = true;  // the server can suspend its screensaver
    std::optional<bool> dpms; // nothing: no DPMS on the server
    Calls calls;
};

class RecordingIdleControls final : public X11IdleControls {
public:
    explicit RecordingIdleControls(std::shared_ptr<IdleState> state) : m_state(std::move(state)) {}
    bool suspendScreenSaver(bool suspend) override
    {
        m_state->calls.push_back(suspend ? "suspend" : "resume");
        return m_state->screenSaver;
    }
    std::optional<bool> dpmsEnabled() override { return m_state->dpms; }
    bool setDpmsEnabled(bool enabled) override
    {
        m_state->calls.push_back(enabled ? "dpms on" : "dpms off");
        if (!m_state->dpms)
            return false;
        m_state->dpms = enabled;
        return true;
    }

private:
    std::shared_ptr<IdleState> m_state;
};

enum class Service { absent, grants, refuses };

TEST(KeepAwake, EachWayIsTriedInTurnAndGivenBack)
{
    ASSERT_TRUE(test::serviceStarted("SYSTEM_BUS"));
    ASSERT_TRUE(test::serviceStarted("SESSION_BUS"));
    struct Case {
        const char* name;
        bool logind;
        Service screenSaverService;
        bool xScreenSaver;
        std::optional<bool> dpms;
        bool kept;
        Calls xOn, xOff; // requests to the X server when switched on, then off
    };
    const Case cases[] = {
        {"logind first", true, Service::grants, true, true, true, {}, {}},
        {"the screensaver service without logind",
         false,
         Service::grants,
         true,
         true,
         true,
         {},
         {}},
        {"X when the service refuses",
         false,
         Service::refuses,
         true,
         true,
         true,
         {"suspend", "dpms off"},
         {"resume", "dpms on"}},
        {"X screensaver without DPMS",
         false,
         Service::absent,
         true,
         std::nullopt,
         true,
         {"suspend"},
         {"resume"}},
        {"DPMS that was off stays off",
         false,
         Service::absent,
         true,
         false,
         true,
         {"suspend"},
         {"resume"}},
        {"DPMS alone",
         false,
         Service::absent,
         false,
         true,
         true,
         {"suspend", "dpms off"},
         {"dpms on"}},
        {"nothing at all", false, Service::absent, false, std::nullopt, false, {"suspend"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<FakeService> logind, saver;
        if (c.logind) {
            logind = std::make_unique<FakeService>(QStringList{QStringLiteral("logind")});
            ASSERT_TRUE(logind->ready());
        }
        if (c.screenSaverService != Service::absent) {
            QStringList args{QStringLiteral("screensaver")};
            if (c.screenSaverService == Service::refuses)
                args << QStringLiteral("--deny");
            saver = std::make_unique<FakeService>(args);
            ASSERT_TRUE(saver->ready());
        }
        auto idle = std::make_shared<IdleState>(IdleState{c.xScreenSaver, c.dpms, {}});
        QTemporaryDir sysfs;
        LinuxSystemControls controls(nullptr, sysfs.path(),
                                     std::make_unique<RecordingIdleControls>(idle));
        test::ScratchSettings scratch;
        SystemActions actions(controls, [] { return true; }, scratch.settings);

        EXPECT_EQ(actions.perform(sys::SetKeepAwake{true}),
                  c.kept ? CommandResult::ok(QStringLiteral("The Mac stays awake"))
                         : CommandResult::failure(QStringLiteral("Couldn't keep the Mac awake")));
        EXPECT_EQ(idle->calls, c.xOn);
        const bool serviceHolds = !c.logind && c.screenSaverService == Service::grants;
        if (saver) {
            EXPECT_EQ(saver->lines().filter(QStringLiteral("Inhibit Orvane")).size(),
                      c.logind ? 0 : 1);
        }

        idle->calls.clear();
        EXPECT_TRUE(actions.perform(sys::SetKeepAwake{false}).success);
        EXPECT_EQ(idle->calls, c.xOff);
        if (logind) {
            EXPECT_TRUE(logind->waitFor(QStringLiteral("inhibitor released")));
        }
        if (serviceHolds) {
            EXPECT_EQ(saver->waitFor(QStringLiteral("UnInhibit")), QStringLiteral("UnInhibit 7"));
        } else if (saver) {
            EXPECT_TRUE(saver->lines().filter(QStringLiteral("UnInhibit")).isEmpty());
        }
    }
}

} // namespace
} // namespace orvane

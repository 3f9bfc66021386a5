// Sleep, lock, brightness and the keep-awake inhibitor against a stand-in
// logind on the private system bus.
#include "commands/system_actions.h"
#include "support/scratch_settings.h"
#include "platform/linux/linux_system_controls.h"
#include "service_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::FakeService;
using test::ScopedEnv;

class Logind : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(test::serviceStarted("SYSTEM_BUS")); }

    std::unique_ptr<FakeService> startLogind(const QStringList& options = {})
    {
        auto service =
            std::make_unique<FakeService>(QStringList{QStringLiteral("logind")} + options);
        EXPECT_TRUE(service->ready());
        return service;
    }

    void addBacklight(const QString& name, int value, int max)
    {
        QDir(sysfs.path()).mkpath(name);
        write(name + QStringLiteral("/brightness"), QByteArray::number(value) + '\n');
        write(name + QStringLiteral("/max_brightness"), QByteArray::number(max) + '\n');
    }
    void write(const QString& relative, const QByteArray& content)
    {
        QFile file(sysfs.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QTemporaryDir sysfs;
    LinuxSystemControls controls{nullptr, sysfs.path()};
    bool accessibility = true;
    test::ScratchSettings scratch;
    SystemActions actions{controls, [this] { return accessibility; }, scratch.settings};
};

TEST_F(Logind, SleepSuspendsAfterTheAnswer)
{
    auto logind = startLogind();
    EXPECT_EQ(actions.perform(sys::Sleep{}).message, QStringLiteral("Mac is going to sleep"));
    EXPECT_TRUE(logind->lines().filter(QStringLiteral("Suspend")).isEmpty());
    QDeadlineTimer deadline(10000);
    while (logind->lines().filter(QStringLiteral("Suspend")).isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(logind->waitFor(QStringLiteral("Suspend")), QStringLiteral("Suspend false"));
}

TEST_F(Logind, LockFindsTheSession)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> sessionId;
        QStringList options;
        QString call;
    };
    const Case cases[] = {
        {"from the environment", QByteArray("7"), {}, QStringLiteral("LockSession 7")},
        {"by process", std::nullopt, {}, QStringLiteral("Lock /org/freedesktop/login1/session/c2")},
        {"the caller's session",
         std::nullopt,
         {QStringLiteral("--no-session-for-pid")},
         QStringLiteral("Lock /org/freedesktop/login1/session/auto")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv session("XDG_SESSION_ID", c.sessionId);
        auto logind = startLogind(c.options);
        const CommandResult result = actions.perform(sys::Lock{});
        EXPECT_EQ(result, CommandResult::ok(QStringLiteral("⌃⌘Q")));
        EXPECT_EQ(logind->waitFor(QStringLiteral("Lock")), c.call);
    }
}

TEST_F(Logind, RefusedLockAndMissingLogindAreFailures)
{
    {
        ScopedEnv session("XDG_SESSION_ID", QByteArray("7"));
        auto logind = startLogind({QStringLiteral("--deny")});
        EXPECT_EQ(
            actions.perform(sys::Lock{}),
            CommandResult::failure(QStringLiteral("Accessibility permission required on the Mac")));
        // Every way to the session was tried before giving up.
        EXPECT_TRUE(logind->waitFor(QStringLiteral("Lock /org/freedesktop/login1/session/auto")));
    }
    EXPECT_FALSE(controls.lockSession());
    EXPECT_FALSE(controls.holdSleepInhibitor());
    EXPECT_EQ(actions.perform(sys::SetKeepAwake{true}),
              CommandResult::failure(QStringLiteral("Couldn't keep the Mac awake")));
    // Brightness reports success whether or not anything obeys.
    EXPECT_TRUE(actions.perform(sys::BrightnessUp{}).success);
}

TEST_F(Logind, KeepAwakeHoldsOneInhibitorUntilOff)
{
    auto logind = startLogind();
    EXPECT_EQ(actions.perform(sys::SetKeepAwake{true}).message,
              QStringLiteral("The Mac stays awake"));
    EXPECT_EQ(logind->waitFor(QStringLiteral("Inhibit")),
              QStringLiteral("Inhibit sleep:idle Orvane Orvane keeps the computer reachable from "
                             "the phone block"));
    actions.setKeepAwake(true);
    // A later call shows the fake has seen everything sent before it.
    controls.suspend();
    ASSERT_TRUE(logind->waitFor(QStringLiteral("Suspend")));
    EXPECT_TRUE(logind->lines().filter(QStringLiteral("inhibitor released")).isEmpty());

    EXPECT_EQ(actions.perform(sys::SetKeepAwake{false}).message,
              QStringLiteral("The Mac can sleep again"));
    EXPECT_TRUE(logind->waitFor(QStringLiteral("inhibitor released")));
    actions.setKeepAwake(false);
    EXPECT_EQ(logind->lines().filter(QStringLiteral("Inhibit")).size(), 1);
    EXPECT_EQ(logind->lines().filter(QStringLiteral("inhibitor released")).size(), 1);
    EXPECT_FALSE(scratch.settings.keepAwake());
}

TEST_F(Logind, BrightnessStepsTheFirstBacklight)
{
    addBacklight(QStringLiteral("intel_backlight"), 50, 1000);
    addBacklight(QStringLiteral("acpi_video0"), 100, 255);
    EXPECT_EQ(controls.backlight(), (BacklightLevel{100, 255}));
    auto logind = startLogind();
    EXPECT_EQ(actions.perform(sys::BrightnessUp{}).message, QStringLiteral("Brightness up"));
    EXPECT_EQ(logind->waitFor(QStringLiteral("SetBrightness")),
              QStringLiteral("SetBrightness /org/freedesktop/login1/session/auto backlight "
                             "acpi_video0 115"));
    write(QStringLiteral("acpi_video0/brightness"), "7\n");
    EXPECT_EQ(actions.perform(sys::BrightnessDown{}).message, QStringLiteral("Brightness down"));
    EXPECT_EQ(logind->waitFor(QStringLiteral("SetBrightness")),
              QStringLiteral("SetBrightness /org/freedesktop/login1/session/auto backlight "
                             "acpi_video0 0"));
}

} // namespace
} // namespace orvane

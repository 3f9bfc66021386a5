// The Linux system controls against stand-ins: a fake logind on the private
// system bus, a fake screensaver service and settings portal on the private
// session bus, a recording gsettings on PATH, backlight folders in a
// temporary sysfs, and a recording X screensaver and DPMS (tests/x11 drives
// the real server).
#include "commands/system_actions.h"
#include "platform/linux/linux_system_controls.h"
#include "platform/linux/x11/x11_idle_controls.h"
#include "service_support.h"
#include "support/scratch_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::FakeService;
using test::ScopedEnv;

// The X server's screensaver and DPMS: "suspend", "dpms off", ... in turn.
struct RecordingIdleControls final : X11IdleControls {
    bool suspendScreenSaver(bool suspend) override
    {
        record(suspend ? "suspend" : "resume");
        return screenSaver;
    }
    std::optional<bool> dpmsEnabled() override { return dpms; }
    bool setDpmsEnabled(bool enabled) override
    {
        record(enabled ? "dpms on" : "dpms off");
        if (dpms)
            dpms = enabled;
        return dpms.has_value();
    }
    void record(const char* call) { calls += (calls.empty() ? "" : ", ") + std::string(call); }

    bool screenSaver = false; // the server can suspend its screensaver
    std::optional<bool> dpms; // nothing: the server has no DPMS
    std::string calls;
};

// Keeps the value in a file next to itself and appends every argument list
// to "calls". Marker files change its behaviour: "refuse" makes "set" fail,
// "memory" makes it succeed without storing (as gsettings does without a
// settings store), and no "value" file means the key does not exist. Only
// shell built-ins: PATH holds nothing else.
constexpr char recordingGSettings[] = R"(#!/bin/sh
dir=${0%/*}
echo "$*" >> "$dir/calls"
case "$1" in
get)
    [ -e "$dir/value" ] || { echo "No such key" >&2; exit 1; }
    read -r value < "$dir/value"
    echo "'$value'" ;;
set)
    [ -e "$dir/value" ] || { echo "No such key" >&2; exit 1; }
    [ -e "$dir/refuse" ] && { echo "The key is not writable" >&2; exit 1; }
    [ -e "$dir/memory" ] || echo "$4" > "$dir/value" ;;
*)
    exit 1 ;;
esac
)";

class LinuxControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::serviceStarted("SYSTEM_BUS"));
        ASSERT_TRUE(test::serviceStarted("SESSION_BUS"));
    }
    std::unique_ptr<FakeService> start(const QStringList& arguments)
    {
        auto service = std::make_unique<FakeService>(arguments);
        EXPECT_TRUE(service->ready());
        return service;
    }
    void write(const QString& relative, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(dir.filePath(relative)).path());
        QFile file(dir.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    // What the phone is told, "failed: " before a failure.
    std::string run(const SystemAction& action)
    {
        const CommandResult r = actions.perform(action);
        return (r.success ? "" : "failed: ") + r.message.toStdString();
    }

    QTemporaryDir dir; // backlight devices in "backlight", programs in "bin"
    ScopedEnv path{"PATH", dir.filePath(QStringLiteral("bin")).toUtf8()};
    RecordingIdleControls* idle = new RecordingIdleControls;
    LinuxSystemControls controls{nullptr, dir.filePath(QStringLiteral("backlight")),
                                 std::unique_ptr<X11IdleControls>(idle)};
    test::ScratchSettings scratch;
    SystemActions actions{controls, [] { return true; }, scratch.settings};
};

TEST_F(LinuxControls, LockFindsTheSessionAndARefusalIsAFailure)
{
    const std::string locked = "⌃⌘Q",
                      noAccess = "failed: Accessibility permission required on the Mac";
    const QString sessions = QStringLiteral("/org/freedesktop/login1/session/");
    const struct {
        std::optional<QByteArray> sessionId;
        QStringList options;
        QString call; // the last one
        std::string said;
    } cases[] = {
        {"7", {}, "LockSession 7", locked},          // the session from the environment
        {{}, {}, "Lock " + sessions + "c2", locked}, // the session of this process
        {{}, {"--no-session-for-pid"}, "Lock " + sessions + "auto", locked}, // the caller's
        {"7", {"--deny"}, "Lock " + sessions + "auto", noAccess}, // every way tried first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call.toStdString());
        ScopedEnv session("XDG_SESSION_ID", c.sessionId);
        auto logind = start(QStringList{"logind"} + c.options);
        EXPECT_EQ(run(sys::Lock{}), c.said);
        EXPECT_TRUE(logind->waitFor(c.call));
    }
    // Without logind nothing is locked or held awake, and brightness reports
    // success whether or not anything obeys.
    EXPECT_FALSE(controls.lockSession());
    EXPECT_EQ(run(sys::SetKeepAwake{true}), "failed: Couldn't keep the Mac awake");
    EXPECT_EQ(run(sys::BrightnessUp{}), "Brightness up");
}

TEST_F(LinuxControls, KeepAwakeTriesEachWayInTurnAndGivesBackWhatItTook)
{
    enum Service { absent, grants, refuses };
    const struct {
        bool logind;
        Service screenSaverService;
        bool xScreenSaver;
        std::optional<bool> dpms;
        bool kept;
        const char *xOn, *xOff; // requests to the X server when switched on, then off
    } cases[] = {
        {true, grants, true, true, true, "", ""},  // logind first
        {false, grants, true, true, true, "", ""}, // then the service
        {false, refuses, true, true, true, "suspend, dpms off", "resume, dpms on"}, // then X
        {false, absent, true, {}, true, "suspend", "resume"},                       // without DPMS
        {false, absent, true, false, true, "suspend", "resume"}, // DPMS that was off stays off
        {false, absent, false, true, true, "suspend, dpms off", "dpms on"}, // DPMS alone
        {false, absent, false, {}, false, "suspend", ""},                   // nothing at all
    };
    const QString why = QStringLiteral("Orvane keeps the computer reachable from the phone");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.xOn) + " / " + c.xOff);
        std::unique_ptr<FakeService> logind, saver;
        if (c.logind)
            logind = start({QStringLiteral("logind")});
        if (c.screenSaverService == grants)
            saver = start({QStringLiteral("screensaver")});
        if (c.screenSaverService == refuses)
            saver = start({QStringLiteral("screensaver"), QStringLiteral("--deny")});
        idle->screenSaver = c.xScreenSaver;
        idle->dpms = c.dpms;
        idle->calls.clear();
        EXPECT_EQ(run(sys::SetKeepAwake{true}),
                  c.kept ? "The Mac stays awake" : "failed: Couldn't keep the Mac awake");
        EXPECT_EQ(idle->calls, c.xOn);
        if (logind) {
            EXPECT_EQ(logind->waitFor("Inhibit"), "Inhibit sleep:idle Orvane " + why + " block");
            // A later call shows that the fake has seen all that came before
            // it, and that the hold is kept meanwhile.
            controls.suspend();
            EXPECT_EQ(logind->waitFor("Suspend"), QStringLiteral("Suspend false"));
            EXPECT_FALSE(logind->lines().contains(QStringLiteral("inhibitor released")));
        }
        if (saver) {
            EXPECT_EQ(saver->lines().filter("Inhibit "),
                      c.logind ? QStringList() : QStringList{"Inhibit Orvane " + why});
        }

        idle->calls.clear();
        EXPECT_EQ(run(sys::SetKeepAwake{false}), "The Mac can sleep again");
        EXPECT_EQ(idle->calls, c.xOff);
        if (logind) {
            EXPECT_TRUE(logind->waitFor("inhibitor released"));
        }
        if (saver) {
            EXPECT_EQ(saver->lines().filter("UnInhibit"),
                      !c.logind && c.screenSaverService == grants ? QStringList{"UnInhibit 7"}
                                                                  : QStringList());
        }
    }
}

TEST_F(LinuxControls, BrightnessStepsTheFirstBacklightThroughLogind)
{
    write("backlight/intel_backlight/brightness", "50\n");
    write("backlight/intel_backlight/max_brightness", "1000\n");
    write("backlight/acpi_video0/brightness", "100\n");
    write("backlight/acpi_video0/max_brightness", "255\n");
    EXPECT_EQ(controls.backlight(), (BacklightLevel{100, 255}));
    auto logind = start({QStringLiteral("logind")});
    const QString set = "SetBrightness /org/freedesktop/login1/session/auto backlight acpi_video0 ";
    EXPECT_EQ(run(sys::BrightnessUp{}), "Brightness up");
    EXPECT_EQ(logind->waitFor("SetBrightness"), set + "115");
    write("backlight/acpi_video0/brightness", "7\n");
    EXPECT_EQ(run(sys::BrightnessDown{}), "Brightness down");
    EXPECT_EQ(logind->waitFor("SetBrightness"), set + "0");
}

TEST_F(LinuxControls, DarkModeIsWrittenWithGSettingsAndReadFromThePortalElse)
{
    const std::string refusal =
        "failed: Automation permission for System Events required on the Mac";
    const QString key = QStringLiteral("org.gnome.desktop.interface color-scheme");
    const struct {
        const char* gsettings; // its value; "" without the key, nothing when not installed
        const char* marker;    // "refuse" makes it refuse a write, "memory" forget it
        int portal;            // the portal's colour scheme; -1 for no portal
        std::optional<bool> dark;
        std::string said;
        const char* written;
    } cases[] = {
        {"default", "", -1, false, "Dark mode on", "prefer-dark"},
        {"prefer-light", "", -1, false, "Dark mode on", "prefer-dark"},
        {"prefer-dark", "", -1, true, "Light mode", "default"},
        {"default", "refuse", -1, false, refusal, "prefer-dark"},
        {"default", "memory", -1, false, refusal, "prefer-dark"},
        // Reading through the portal is no licence to write: nothing can.
        {nullptr, "", 1, true, refusal, nullptr},
        {"", "", 1, true, refusal, "default"},
        {nullptr, "", 2, false, refusal, nullptr},
        {nullptr, "", 0, false, refusal, nullptr},
        {nullptr, "", -1, std::nullopt, refusal, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.gsettings ? c.gsettings : "none") + " " + c.marker);
        QDir(dir.filePath(QStringLiteral("bin"))).removeRecursively();
        if (c.gsettings) {
            write(QStringLiteral("bin/gsettings"), recordingGSettings);
            QFile::setPermissions(dir.filePath(QStringLiteral("bin/gsettings")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            if (*c.gsettings)
                write(QStringLiteral("bin/value"), QByteArray(c.gsettings) + '\n');
            if (*c.marker)
                write(QStringLiteral("bin/") + c.marker, {});
        }
        std::unique_ptr<FakeService> portal;
        if (c.portal >= 0)
            portal = start({QStringLiteral("portal"), QString::number(c.portal)});
        EXPECT_EQ(controls.darkColorScheme(), c.dark);
        if (portal) {
            EXPECT_EQ(portal->waitFor("Read"), "Read org.freedesktop.appearance color-scheme");
        }
        EXPECT_EQ(run(sys::ToggleDarkMode{}), c.said);
        // What gsettings was asked: reads of the key, and the one write.
        QFile file(dir.filePath(QStringLiteral("bin/calls")));
        const QStringList calls =
            file.open(QIODevice::ReadOnly)
                ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                : QStringList();
        const QString set = c.written ? "set " + key + " " + c.written : QString();
        for (const QString& call : calls)
            EXPECT_TRUE(call == "get " + key || call == set) << call.toStdString();
        EXPECT_EQ(calls.contains(set), c.written != nullptr);
    }
}

} // namespace
} // namespace orvane

// Dark mode through a recording gsettings on PATH and a stand-in settings
// portal on the private session bus.
#include "commands/system_actions.h"
#include "support/scratch_settings.h"
#include "platform/linux/linux_system_controls.h"
#include "service_support.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::FakeService;
using test::ScopedEnv;

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

class Appearance : public ::testing::Test {
protected:
    Appearance() : path("PATH", bin.path().toUtf8()) {}

    void installGSettings(std::optional<QByteArray> value, const QByteArray& marker = {})
    {
        QFile script(bin.filePath(QStringLiteral("gsettings")));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(recordingGSettings);
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ExeOwner);
        if (value)
            writeFile(QStringLiteral("value"), *value + '\n');
        if (!marker.isEmpty())
            writeFile(QString::fromUtf8(marker), {});
    }
    void writeFile(const QString& name, const QByteArray& content)
    {
        QFile file(bin.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QStringList calls()
    {
        QFile file(bin.filePath(QStringLiteral("calls")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    std::pair<bool, QString> toggle()
    {
        CommandResult r = actions.perform(sys::ToggleDarkMode{});
        return {r.success, r.message};
    }

    QTemporaryDir bin;
    ScopedEnv path;
    LinuxSystemControls controls{nullptr, bin.filePath(QStringLiteral("no-backlight"))};
    test::ScratchSettings scratch;
    SystemActions actions{controls, [] { return true; }, scratch.settings};
};

const QString refusal =
    QStringLiteral("Automation permission for System Events required on the Mac");
const QString getCall = QStringLiteral("get org.gnome.desktop.interface color-scheme");

TEST_F(Appearance, ToggleWritesTheOppositeAndReportsWhatItReadsBack)
{
    struct Case {
        QByteArray before;
        QByteArray marker;
        std::pair<bool, QString> result;
        QString written;
    };
    const Case cases[] = {
        {"default", {}, {true, QStringLiteral("Dark mode on")}, QStringLiteral("prefer-dark")},
        {"prefer-light", {}, {true, QStringLiteral("Dark mode on")}, QStringLiteral("prefer-dark")},
        {"prefer-dark", {}, {true, QStringLiteral("Light mode")}, QStringLiteral("default")},
        {"default", "refuse", {false, refusal}, QStringLiteral("prefer-dark")},
        {"default", "memory", {false, refusal}, QStringLiteral("prefer-dark")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.before + " " + c.marker).constData());
        QFile::remove(bin.filePath(QStringLiteral("calls")));
        QFile::remove(bin.filePath(QStringLiteral("refuse")));
        QFile::remove(bin.filePath(QStringLiteral("memory")));
        installGSettings(c.before, c.marker);
        EXPECT_EQ(toggle(), c.result);
        const QStringList recorded = calls();
        ASSERT_GE(recorded.size(), 2);
        EXPECT_EQ(recorded[0], getCall);
        EXPECT_EQ(recorded[1],
                  QStringLiteral("set org.gnome.desktop.interface color-scheme ") + c.written);
    }
}

TEST_F(Appearance, ThePortalAnswersWhenGSettingsCannot)
{
    ASSERT_TRUE(test::serviceStarted("SESSION_BUS"));
    struct Case {
        const char* name;
        bool gsettings; // installed, but without the key
        uint scheme;
        bool dark;
    };
    const Case cases[] = {
        {"no gsettings, portal prefers dark", false, 1, true},
        {"no key, portal prefers dark", true, 1, true},
        {"no gsettings, portal prefers light", false, 2, false},
        {"no gsettings, portal has no preference", false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(bin.filePath(QStringLiteral("gsettings")));
        if (c.gsettings)
            installGSettings(std::nullopt);
        FakeService portal({QStringLiteral("portal"), QString::number(c.scheme)});
        ASSERT_TRUE(portal.ready());
        EXPECT_EQ(controls.darkColorScheme(), c.dark);
        EXPECT_EQ(portal.waitFor(QStringLiteral("Read")),
                  QStringLiteral("Read org.freedesktop.appearance color-scheme"));
        // Reading through the portal is no licence to write: nothing can.
        EXPECT_EQ(toggle(), std::pair(false, refusal));
    }
}

TEST_F(Appearance, NothingToReadIsLightAndNothingToWriteIsTheRefusal)
{
    ASSERT_TRUE(test::serviceStarted("SESSION_BUS"));
    EXPECT_EQ(controls.darkColorScheme(), std::nullopt);
    EXPECT_FALSE(actions.readSystemState().isDarkMode);
    EXPECT_EQ(toggle(), std::pair(false, refusal));
}

} // namespace
} // namespace orvane

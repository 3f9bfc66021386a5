// The KWin backend against a real headless KWin, with windows of the Wayland
// test window: what KWin reports, and what it does when asked.
#include "mutter/child_lines.h"
#include "platform/linux/kwin/kwin_windows.h"
#include "support/pump.h"

#include <QColor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QImage>
#include <QSaveFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace orvane {
namespace {

QDBusConnection kwinBus(const QString& name)
{
    return QDBusConnection::connectToBus(qEnvironmentVariable("ORVANE_TEST_KWIN_BUS"), name);
}

// The Wayland test window, in the KWin session.
std::unique_ptr<test::ChildLines> probe(const QStringList& options)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    const auto session = [](const char* name) {
        return qEnvironmentVariable(QByteArray("ORVANE_TEST_KWIN_").append(name).constData());
    };
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), session("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), session("RUNTIME_DIR"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), session("BUS"));
    env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
    return std::make_unique<test::ChildLines>(
        QStringList{QStringLiteral(ORVANE_WAYLAND_PROBE)} + options, env);
}

// KWin draws windows only for a program named by a desktop entry that lists
// its screenshot service; the session's KWin also reads entries from a folder
// of the tests, where this program writes its own.
void trustThisProgram()
{
    const QString folder = qEnvironmentVariable("ORVANE_TEST_KWIN_APPLICATIONS_DIR");
    ASSERT_FALSE(folder.isEmpty()) << "the KWin session has no folder for desktop entries";
    const QByteArray entry = "[Desktop Entry]\nType=Application\nName=Orvane KWin session tests\n"
                             "Exec=" +
                             QCoreApplication::applicationFilePath().toUtf8() +
                             "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n";
    QSaveFile file(QDir(folder).filePath(QStringLiteral("orvane-kwin-session-tests.desktop")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(entry) == entry.size() &&
                file.commit())
        << file.errorString().toStdString();
}

class KWinSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_KWIN_OK"), "1")
            << "no headless KWin: " << qgetenv("ORVANE_TEST_KWIN_ERROR").toStdString();
        kwin = std::make_unique<KWinWindows>(kwinBus(QStringLiteral("orvane-test-kwin")));
        ASSERT_TRUE(test::pumpUntil([&] { return kwin->present(); }, 10000))
            << "KWin did not run the script";
    }

    // The window of `probe`, once KWin reports it; 0 when it does not.
    std::uint32_t windowOf(const test::ChildLines& probe, int timeoutMs = 10000)
    {
        std::uint32_t id = 0;
        test::pumpUntil(
            [&] {
                for (const DesktopWindow& w : kwin->windows())
                    if (w.pid == probe.pid())
                        id = w.id;
                return id != 0;
            },
            timeoutMs);
        return id;
    }
    bool listed(std::uint32_t id)
    {
        const std::vector<DesktopWindow> all = kwin->windows();
        return std::any_of(all.begin(), all.end(),
                           [&](const DesktopWindow& w) { return w.id == id; });
    }

    std::unique_ptr<KWinWindows> kwin;
};

TEST_F(KWinSessionTest, ListsWindowsFrontToBackAndFocusFollowsActivation)
{
    int applications = 0, frontmost = 0;
    kwin->onApplicationsChanged = [&] { ++applications; };
    kwin->onFrontmostChanged = [&] { ++frontmost; };
    auto first = probe({"--title", "orvane first"});
    const std::uint32_t firstId = windowOf(*first);
    ASSERT_NE(firstId, 0u);
    auto second = probe({"--title", "orvane second", "--colour", "3050ff"});
    const std::uint32_t secondId = windowOf(*second);
    ASSERT_NE(secondId, 0u);
    ASSERT_TRUE(test::pumpUntil([&] { return kwin->activeWindow() == secondId; }, 5000));
    EXPECT_GE(applications, 2);
    EXPECT_GE(frontmost, 1);

    std::vector<DesktopWindow> windows = kwin->windows();
    ASSERT_GE(windows.size(), 2u);
    EXPECT_EQ(windows[0].id, secondId) << "the newest window is in front";
    EXPECT_EQ(windows[0].title, "orvane second");
    EXPECT_TRUE(windows[0].normal);
    EXPECT_TRUE(windows[0].onScreen);
    EXPECT_FALSE(windows[0].applicationClass.isEmpty());
    EXPECT_EQ(kwin->frontmostPid(), second->pid());

    frontmost = 0;
    ASSERT_TRUE(kwin->activate(firstId));
    ASSERT_TRUE(test::pumpUntil([&] { return kwin->activeWindow() == firstId; }, 5000));
    EXPECT_EQ(kwin->windows().front().id, firstId);
    EXPECT_EQ(kwin->frontmostPid(), first->pid());
    EXPECT_GE(frontmost, 1);

    kwin->sendToBack(firstId);
    EXPECT_TRUE(test::pumpUntil([&] { return kwin->windows().back().id == firstId; }, 5000));

    // Only KWin may report: another program's report is refused and changes nothing.
    QDBusMessage forged = QDBusMessage::createMethodCall(
        kwinBus(QStringLiteral("orvane-test-kwin")).baseService(),
        QStringLiteral("/org/orvane/KWinWindows"), QStringLiteral("org.orvane.KWinWindows"),
        QStringLiteral("report"));
    forged.setArguments({QStringLiteral(R"({"windows":[{"id":"x","title":"forged"}]})")});
    QDBusConnection other = kwinBus(QStringLiteral("orvane-test-other"));
    const QDBusPendingCall pending = other.asyncCall(forged, 5000);
    test::pumpUntil([&] { return pending.isFinished(); }, 5000);
    EXPECT_TRUE(pending.isError());
    EXPECT_EQ(kwin->windows().back().id, firstId);
}

TEST_F(KWinSessionTest, PlacesAWindowOnTheLeftHalfOfTheWorkArea)
{
    auto placed = probe({"--title", "orvane placed"});
    const std::uint32_t id = windowOf(*placed);
    ASSERT_NE(id, 0u);
    const std::optional<Rect> area = kwin->workArea({800, 500});
    ASSERT_TRUE(area);
    EXPECT_EQ(*area, (Rect{0, 0, 1600, 1000})) << "a bare KWin has no panels";
    ASSERT_TRUE(test::pumpUntil([&] { return kwin->frame(id) == area; }, 5000))
        << "the test window starts full screen";

    const Rect left{area->x, area->y, area->width / 2, area->height};
    kwin->setFrame(id, left);
    EXPECT_TRUE(test::pumpUntil([&] { return kwin->frame(id) == left; }, 5000))
        << "frame: " << kwin->frame(id).value_or(Rect{}).width;

    kwin->toggleFullScreen(id);
    EXPECT_TRUE(test::pumpUntil([&] { return kwin->frame(id) == area; }, 5000)) << "full screen";

    kwin->minimize(id);
    EXPECT_TRUE(test::pumpUntil([&] { return !kwin->frame(id); }, 5000)) << "minimised";
}

TEST_F(KWinSessionTest, ClosesPolitelyAndAWindowThatRefusesStays)
{
    auto willing = probe({"--title", "orvane willing"});
    auto refusing = probe({"--title", "orvane refusing", "--refuse-close"});
    const std::uint32_t willingId = windowOf(*willing);
    const std::uint32_t refusingId = windowOf(*refusing);
    ASSERT_NE(willingId, 0u);
    ASSERT_NE(refusingId, 0u);
    kwin->close(willingId);
    kwin->close(refusingId);
    EXPECT_TRUE(refusing->waitFor(QStringLiteral("close_refused"), 5000));
    EXPECT_TRUE(test::pumpUntil([&] { return !willing->running() && !listed(willingId); }, 5000));
    test::pumpUntil([] { return false; }, 8000);
    EXPECT_TRUE(refusing->running());
    EXPECT_TRUE(listed(refusingId)) << "the refusing window went away";
}

TEST_F(KWinSessionTest, APictureOfAWindowShowsItAloneThoughCovered)
{
    trustThisProgram();
    auto below = probe({"--title", "orvane below", "--colour", "3366cc"});
    const std::uint32_t belowId = windowOf(*below);
    ASSERT_NE(belowId, 0u);
    auto above = probe({"--title", "orvane above", "--colour", "cc3333"});
    const std::uint32_t aboveId = windowOf(*above);
    ASSERT_NE(aboveId, 0u);
    ASSERT_TRUE(test::pumpUntil([&] { return kwin->windows().front().id == aboveId; }, 5000));
    std::optional<QByteArray> jpeg;
    EXPECT_TRUE(test::pumpUntil(
        [&] { return (jpeg = kwin->grabJpeg(belowId, 160, 100, 80)).has_value(); }, 10000));
    const QImage picture = QImage::fromData(jpeg.value_or(QByteArray()), "JPEG");
    ASSERT_EQ(picture.size(), QSize(160, 100));
    const QColor centre = picture.pixelColor(80, 50);
    EXPECT_NEAR(centre.red(), 0x33, 12);
    EXPECT_NEAR(centre.blue(), 0xcc, 12);
}

} // namespace
} // namespace orvane

// The KWin backend while KWin comes and goes, against a stand-in that plays
// KWin and our script on the test session bus: the real one cannot be
// stopped under the tests that share it.
#include "mutter/child_lines.h"
#include "platform/linux/kwin/kwin_windows.h"
#include "support/pump.h"

#include <QColor>
#include <QDBusConnection>
#include <QImage>

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(KWinStandInTest, KWinLeavingEmptiesTheMirrorAndItsReturnRunsTheScriptAgain)
{
    ASSERT_EQ(qgetenv("ORVANE_TEST_SESSION_BUS_OK"), "1")
        << "no test session bus: " << qgetenv("ORVANE_TEST_SESSION_BUS_ERROR").toStdString();
    KWinWindows kwin(QDBusConnection::sessionBus());
    int applications = 0, frontmost = 0, screens = 0;
    kwin.onApplicationsChanged = [&] { ++applications; };
    kwin.onFrontmostChanged = [&] { ++frontmost; };
    kwin.onScreensChanged = [&] { ++screens; };
    test::pumpUntil([] { return false; }, 300);
    EXPECT_FALSE(kwin.present());
    EXPECT_TRUE(kwin.windows().empty());
    EXPECT_FALSE(kwin.workArea({1, 1}));
    EXPECT_FALSE(kwin.activate(1));

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        test::ChildLines fake({QStringLiteral(ORVANE_FAKE_KWIN)});
        ASSERT_TRUE(fake.waitFor(QStringLiteral("ready")));
        ASSERT_TRUE(test::pumpUntil([&] { return kwin.present(); }, 5000)) << fake.transcript();
        ASSERT_EQ(kwin.windows().size(), 1u);
        const std::uint32_t id = kwin.windows()[0].id;
        EXPECT_EQ(kwin.frontmostPid(), 4242);
        EXPECT_EQ(kwin.workArea({5, 5}), (Rect{0, 30, 1280, 770}));
        EXPECT_TRUE(kwin.activate(id));
        EXPECT_TRUE(fake.waitFor(QStringLiteral("activate w1"))) << fake.transcript();
        fake.tell(QStringLiteral("quit"));
        ASSERT_TRUE(test::pumpUntil([&] { return !kwin.present(); }, 5000));
        EXPECT_TRUE(kwin.windows().empty());
        EXPECT_FALSE(kwin.frontmostPid());
        EXPECT_FALSE(kwin.activate(id)) << "a window of the KWin that left";
    }
    // Each coming and going is one change of each kind.
    EXPECT_EQ(applications, 4);
    EXPECT_EQ(frontmost, 4);
    EXPECT_EQ(screens, 4);
}

TEST(KWinStandInTest, APictureCutShortOrOfNoSaneSizeIsDroppedAndTheNextIsTaken)
{
    ASSERT_EQ(qgetenv("ORVANE_TEST_SESSION_BUS_OK"), "1")
        << "no test session bus: " << qgetenv("ORVANE_TEST_SESSION_BUS_ERROR").toStdString();
    test::ChildLines fake(
        {QStringLiteral(ORVANE_FAKE_KWIN), QStringLiteral("huge"), QStringLiteral("short")});
    ASSERT_TRUE(fake.waitFor(QStringLiteral("ready")));
    KWinWindows kwin(QDBusConnection::sessionBus());
    ASSERT_TRUE(test::pumpUntil([&] { return kwin.present(); }, 5000)) << fake.transcript();
    const std::uint32_t id = kwin.windows().at(0).id;
    std::optional<QByteArray> jpeg;
    EXPECT_TRUE(
        test::pumpUntil([&] { return (jpeg = kwin.grabJpeg(id, 32, 20, 90)).has_value(); }, 10000))
        << fake.transcript();
    EXPECT_EQ(fake.unread().count(QStringLiteral("picture")), 3) << fake.transcript();
    const QImage picture = QImage::fromData(jpeg.value_or(QByteArray()), "JPEG");
    ASSERT_EQ(picture.size(), QSize(32, 20));
    const QColor centre = picture.pixelColor(16, 10);
    EXPECT_NEAR(centre.red(), 0x33, 8);
    EXPECT_NEAR(centre.blue(), 0xcc, 8);
    fake.tell(QStringLiteral("quit"));
}

} // namespace
} // namespace orvane

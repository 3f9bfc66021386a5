#include "capture_recorder.h"
#include "mutter_cast.h"
#include "platform/linux/pipewire/pipewire_screen_capture.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane {
namespace {

using Seen = test::CaptureRecorder::Seen;
constexpr std::uint32_t red = 0xff0000, green = 0x00ff00;

// A socket to the session's PipeWire, as the desktop portal hands one out.
int pipewireSocket()
{
    sockaddr_un address{AF_UNIX, {}};
    const QByteArray path = qgetenv("ORVANE_TEST_GNOME_RUNTIME_DIR") + "/pipewire-0";
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether a picture shows `rgb` in its corners, away from the cursor.
bool shows(const Seen& seen, std::uint32_t rgb)
{
    for (const auto& [x, y] : {std::pair{100, 100}, {1500, 100}, {1500, 900}, {100, 900}}) {
        if (seen.status != CaptureEvent::Status::newContent || seen.at(x, y) != rgb)
            return false;
    }
    return true;
}

TEST(MutterCaptureTest, PicturesOfTheMonitorShowTheWindowAndFollowItsChanges)
{
    ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
        << "no headless GNOME session: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
    QProcess probe;
    ASSERT_TRUE(test::startWaylandProbe(probe, "ff0000"))
        << "the probe window did not show: " << probe.readAllStandardError().toStdString();
    test::MutterCast cast(QDBusConnection::connectToBus(
        qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"), "mutter-cast"));
    QString error;
    const std::optional<std::uint32_t> node = cast.start(&error);
    ASSERT_TRUE(node) << error.toStdString();
    auto opener = std::make_shared<test::FakeStreamOpener>();
    opener->listed = {{1, 1600, 1000, 1, true}};
    opener->nodes[1] = *node;
    opener->pipewireFd = pipewireSocket();
    ASSERT_GE(opener->pipewireFd, 0);
    auto cursor = std::make_shared<StreamCursor>();
    auto capture = makePipeWireScreenCapture(opener, cursor);
    test::CaptureRecorder recorder;
    ASSERT_TRUE(capture->start(1, 30, recorder.sink(), &error)) << error.toStdString();
    const Seen first = recorder.event(0);
    ::close(opener->pipewireFd); // the capture keeps a copy of its own
    ASSERT_EQ(first.width * 1000 + first.height, 1600 * 1000 + 1000) << first.error.toStdString();
    std::size_t seen = 1;
    const auto arrives = [&](auto wanted) {
        for (; recorder.event(seen).error.isEmpty(); ++seen) {
            if (wanted(recorder.event(seen)))
                return true;
        }
        return false;
    };
    // The window may still be on its way to the screen in the first one.
    EXPECT_TRUE(shows(first, red) ||
                arrives([](const Seen& picture) { return shows(picture, red); }))
        << std::hex << first.at(100, 100);
    // The pointer moves: the cursor is drawn where the metadata puts it,
    // and the position is told.
    ASSERT_TRUE(cast.movePointer(400, 300));
    EXPECT_TRUE(arrives([&](const Seen& picture) {
        const std::optional<Point> pointer = cursor->on(1);
        return pointer && pointer->x == 0.25 && pointer->y == 0.3 && shows(picture, red) &&
               picture.at(402, 304) != red;
    })) << "no picture with the cursor at (400, 300)";
    probe.write("colour 00ff00\n");
    EXPECT_TRUE(arrives([](const Seen& picture) { return shows(picture, green); }))
        << "no picture showed the new colour";
    capture->stop();
    probe.write("quit\n");
    probe.waitForFinished(3000);
    QDBusConnection::disconnectFromBus(QStringLiteral("mutter-cast"));
}

} // namespace
} // namespace orvane

#include "capture_recorder.h"
#include "mutter_cast.h"
#include "platform/linux/pipewire/pipewire_screen_capture.h"
#include "support/pump.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvane {
namespace {

using test::CaptureRecorder;
using Status = CaptureEvent::Status;

constexpr std::uint32_t red = 0xff0000, green = 0x00ff00;

// A socket to the session's PipeWire, as the desktop portal hands one out.
int pipewireSocket(const QByteArray& runtimeDir)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = runtimeDir + "/pipewire-0";
    if (fd < 0 || std::size_t(path.size()) >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the picture shows `rgb` away from the middle, where the cursor
// may be.
bool shows(const CaptureRecorder::Seen& seen, std::uint32_t rgb)
{
    for (const auto& [x, y] : {std::pair{100, 100}, {1500, 100}, {1500, 900}, {100, 900}}) {
        if (seen.status != Status::newContent || seen.at(x, y) != rgb)
            return false;
    }
    return true;
}

TEST(MutterCaptureTest, PicturesOfTheMonitorShowTheWindowAndFollowItsChanges)
{
    ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
        << "no headless GNOME session: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
    const QByteArray runtime = qgetenv("ORVANE_TEST_GNOME_RUNTIME_DIR");
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("WAYLAND_DISPLAY", qEnvironmentVariable("ORVANE_TEST_GNOME_WAYLAND_DISPLAY"));
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("DBUS_SESSION_BUS_ADDRESS", qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"));
    env.insert("GDK_BACKEND", "wayland");
    probe.setProcessEnvironment(env);
    probe.start("/usr/bin/python3", {ORVANE_WAYLAND_PROBE, "--colour", "ff0000"});
    QByteArray said;
    ASSERT_TRUE(test::pumpUntil(
        [&] { return (said += probe.readAllStandardOutput()).contains("\"ready\""); }, 20'000))
        << "the probe window did not show: " << probe.readAllStandardError().toStdString();

    test::MutterCast cast(QDBusConnection::connectToBus(
        qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"), "mutter-cast"));
    QString error;
    const std::optional<std::uint32_t> node = cast.start(&error);
    ASSERT_TRUE(node) << error.toStdString();
    auto opener = std::make_shared<test::FakeStreamOpener>();
    opener->listed = {{1, 1600, 1000, 1, true}};
    opener->nodes[1] = *node;
    opener->pipewireFd = pipewireSocket(runtime);
    ASSERT_GE(opener->pipewireFd, 0);
    auto cursor = std::make_shared<StreamCursor>();
    auto capture = makePipeWireScreenCapture(opener, cursor);
    CaptureRecorder recorder;
    ASSERT_TRUE(capture->start(1, 30, recorder.sink(), &error)) << error.toStdString();
    ASSERT_TRUE(test::pumpUntil([&] { return recorder.count() > 0; }, 10'000));
    ::close(opener->pipewireFd); // the capture keeps a copy of its own
    const CaptureRecorder::Seen first = recorder.event(0);
    ASSERT_EQ(first.status, Status::newContent) << first.error.toStdString();
    EXPECT_EQ(first.width, 1600);
    EXPECT_EQ(first.height, 1000);
    EXPECT_TRUE(shows(first, red)) << std::hex << first.at(100, 100);

    // The pointer moves: a picture follows with the cursor drawn where the
    // metadata puts it, and the position is told.
    ASSERT_TRUE(cast.movePointer(400, 300));
    std::size_t seen = recorder.count();
    const auto arrived = [&](auto test) {
        return test::pumpUntil(
            [&] {
                for (; seen < recorder.count(); ++seen) {
                    if (test(recorder.event(seen)))
                        return true;
                }
                return false;
            },
            10'000);
    };
    EXPECT_TRUE(arrived([&](const CaptureRecorder::Seen& picture) {
        const std::optional<Point> pointer = cursor->on(1);
        return pointer && pointer->x == 0.25 && pointer->y == 0.3 && shows(picture, red) &&
               picture.at(402, 304) != red;
    })) << "no picture with the cursor at (400, 300)";

    probe.write("colour 00ff00\n");
    EXPECT_TRUE(arrived([](const CaptureRecorder::Seen& picture) { return shows(picture, green); }))
        << "no picture showed the new colour";
    capture->stop();
    probe.write("quit\n");
    probe.waitForFinished(3000);
}

} // namespace
} // namespace orvane

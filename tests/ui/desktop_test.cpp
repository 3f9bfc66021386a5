// The program on a display of its own with a window manager: a phone pairs
// through orvane-phone, the pairing panel comes up on top, and the QR code
// in a screenshot of it reads back as the pairing URL the server printed.
#include "child_process.h"
#include "support/managed_display.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <regex>

namespace orvane::test {
namespace {

constexpr int waitMs = 10000;

QString windowName(XTestClient& x, xcb_window_t window)
{
    auto cookie = xcb_get_property(x.connection(), 0, window, x.atom("_NET_WM_NAME"),
                                   x.atom("UTF8_STRING"), 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(x.connection(), cookie, nullptr);
    if (!reply)
        return {};
    QString name = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                     xcb_get_property_value_length(reply));
    std::free(reply);
    return name;
}

// The whole screen as the X server holds it.
QImage screenshot(XTestClient& x, int width, int height)
{
    auto cookie = xcb_get_image(x.connection(), XCB_IMAGE_FORMAT_Z_PIXMAP, x.root(), 0, 0,
                                std::uint16_t(width), std::uint16_t(height), ~0u);
    xcb_get_image_reply_t* reply = xcb_get_image_reply(x.connection(), cookie, nullptr);
    if (!reply)
        return {};
    QImage image(xcb_get_image_data(reply), width, height, width * 4, QImage::Format_RGB32);
    QImage copy = image.copy();
    std::free(reply);
    return copy;
}

TEST(Desktop, PhonePairsAndThePanelsQrCodeReadsBackAsThePairingUrl)
{
    ManagedDisplay display;
    ASSERT_TRUE(display.start());
    QTemporaryDir home;
    ASSERT_TRUE(
        QDir(home.path()).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // The program on the display that ManagedDisplay put in DISPLAY.
    const std::string root = home.path().toStdString();
    const std::map<std::string, std::string> environment = {{"HOME", root},
                                                            {"XDG_CONFIG_HOME", root + "/config"},
                                                            {"XDG_RUNTIME_DIR", root + "/run"},
                                                            {"QT_QPA_PLATFORM", "xcb"}};

    process::ChildProcess server({ORVANE_SERVER_PATH, "--port", "0"}, environment);
    const auto listening =
        server.waitForLine(std::regex("^orvane: listening on port (\\d+)$"), waitMs);
    ASSERT_TRUE(listening) << "the program did not start: " << server.errors();
    process::ChildProcess phone({ORVANE_PHONE_PATH, "--host", "127.0.0.1", "--port",
                                 listening->at(1), "--state-dir", root + "/phone", "pair", "--name",
                                 "Ada's phone"},
                                environment);
    const auto request = server.waitForLine(
        std::regex("^orvane: pairing request from \"Ada's phone\" code (\\d{6})$"), waitMs);
    ASSERT_TRUE(request);
    const auto url =
        server.waitForLine(std::regex("^orvane: pairing url (orvane://\\S+)$"), waitMs);
    ASSERT_TRUE(url);

    xcb_window_t panel = 0;
    ASSERT_TRUE(eventually([&] {
        for (std::uint32_t window : display.stacking())
            if (windowName(display, window) == QLatin1String("Orvane pairing"))
                panel = window;
        return panel != 0;
    })) << "no pairing panel";
    EXPECT_EQ(display.stacking().back(), panel) << "the panel is on top";
    EXPECT_TRUE(display.hasState(panel, "_NET_WM_STATE_ABOVE"));

    QThread::msleep(700); // let it paint
    QImage shot = screenshot(display, 1920, 1080);
    ASSERT_FALSE(shot.isNull());
    QDir().mkpath(QStringLiteral(ORVANE_UI_RENDER_DIR));
    const QString file = QStringLiteral(ORVANE_UI_RENDER_DIR "/desktop-pairing.png");
    ASSERT_TRUE(shot.save(file));
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {"--raw", "-q", file});
    ASSERT_TRUE(zbar.waitForFinished(waitMs)) << "zbarimg (zbar-tools) is missing";
    EXPECT_EQ(zbar.readAllStandardOutput().trimmed().toStdString(), url->at(1));

    phone.writeInput(request->at(1) + "\n");
    EXPECT_EQ(phone.wait(waitMs), 0) << phone.output() << phone.errors();
    server.terminate();
    EXPECT_TRUE(server.wait(waitMs));
}

} // namespace
} // namespace orvane::test

// The program on a display of its own with a window manager: a phone pairs
// through orvane-phone, the pairing panel comes up on top, and the QR code
// in a screenshot of it reads back as the pairing URL the server printed.
#include "support/managed_display.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

namespace orvane::test {
namespace {

constexpr int waitMs = 10000;

// The first line of the program's output that matches, read as it comes.
QRegularExpressionMatch waitForLine(QProcess& process, const QString& pattern)
{
    QRegularExpression expression(pattern);
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired()) {
        while (process.canReadLine()) {
            auto match = expression.match(QString::fromUtf8(process.readLine()).trimmed());
            if (match.hasMatch())
                return match;
        }
        process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return {};
}

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
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("run")));
    QFile::setPermissions(home.filePath(QStringLiteral("run")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    environment.insert(QStringLiteral("DISPLAY"), qEnvironmentVariable("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));

    QProcess server;
    server.setProcessEnvironment(environment);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(ORVANE_SERVER_PATH),
                 {QStringLiteral("--port"), QStringLiteral("0")});
    auto listening = waitForLine(server, QStringLiteral("^orvane: listening on port (\\d+)$"));
    ASSERT_TRUE(listening.hasMatch()) << "the program did not start";

    QProcess phone;
    phone.setProcessEnvironment(environment);
    phone.setProcessChannelMode(QProcess::MergedChannels);
    phone.start(QStringLiteral(ORVANE_PHONE_PATH),
                {"--host", "127.0.0.1", "--port", listening.captured(1), "--state-dir",
                 home.filePath("phone"), "pair", "--name", "Ada's phone"});
    auto request =
        waitForLine(server, "^orvane: pairing request from \"Ada's phone\" code (\\d{6})$");
    ASSERT_TRUE(request.hasMatch());
    auto url = waitForLine(server, QStringLiteral("^orvane: pairing url (orvane://\\S+)$"));
    ASSERT_TRUE(url.hasMatch());

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
    EXPECT_EQ(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), url.captured(1));

    phone.write(request.captured(1).toUtf8() + "\n");
    ASSERT_TRUE(phone.waitForFinished(waitMs));
    EXPECT_EQ(phone.exitCode(), 0) << phone.readAll().toStdString();
    server.terminate();
    EXPECT_TRUE(server.waitForFinished(waitMs));
}

} // namespace
} // namespace orvane::test

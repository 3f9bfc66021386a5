// The clipboard of a GNOME remote-desktop session against the headless GNOME
// that test.sh starts, with the Wayland test window as the other program.
#include "platform/linux/mutter/mutter_clipboard.h"
#include "platform/linux/mutter/mutter_pasteboard.h"
#include "support/pump.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::pumpUntil;

const QString service = QStringLiteral("org.gnome.Mutter.RemoteDesktop");

// A started remote-desktop session on a bus connection of its own (closing
// it ends the session), and the test window, shown and typed at: a Wayland
// program sees and sets the clipboard only after input reached it.
class MutterClipboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
            << "no headless GNOME: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
        m_session = call("/org/gnome/Mutter/RemoteDesktop", service, "CreateSession")
                        .value<QDBusObjectPath>()
                        .path();
        m_clipboard = std::make_unique<MutterClipboard>(m_bus, m_session);
        call(m_session, service + ".Session", "Start");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.insert("GDK_BACKEND", "wayland");
        env.insert("WAYLAND_DISPLAY", qEnvironmentVariable("ORVANE_TEST_GNOME_WAYLAND_DISPLAY"));
        env.insert("XDG_RUNTIME_DIR", qEnvironmentVariable("ORVANE_TEST_GNOME_RUNTIME_DIR"));
        env.insert("DBUS_SESSION_BUS_ADDRESS", qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"));
        m_probe.setProcessEnvironment(env);
        m_probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_probe.start("/usr/bin/python3", {ORVANE_WAYLAND_PROBE});
        ASSERT_FALSE(next("ready").isEmpty()) << "the test window did not show";
        // Shift, again while it is lost: a new keyboard's first keys may be.
        bool typed = false;
        for (int tries = 0; !typed && tries < 10; ++tries) {
            for (const bool down : {true, false})
                call(m_session, service + ".Session", "NotifyKeyboardKeycode", {42u, down});
            typed = !next("key", 500).isEmpty();
        }
        ASSERT_TRUE(typed) << "no key reached the test window";
        // On a desktop that has just started, the first selection set over
        // the remote-desktop session may not reach its programs (seen on
        // mutter 43 and GNOME Shell 43): the table below starts after one.
        std::optional<bool> offered;
        m_clipboard->offer(QStringLiteral("first"), [&](bool ok) { offered = ok; });
        ASSERT_TRUE(pumpUntil([&] { return offered.has_value(); }, 10000));
        paste();
    }
    void TearDown() override
    {
        m_clipboard.reset();
        QDBusConnection::disconnectFromBus(m_bus.name());
    }

    QVariant call(const QString& path, const QString& interface, const char* method,
                  const QVariantList& arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = m_bus.call(message, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0);
    }
    // The window's next report that has `key`, passing over the others;
    // an empty object when none comes in time.
    QJsonObject next(const char* key, int timeoutMs = 10000)
    {
        QJsonObject report;
        const auto found = [&] {
            while (!report.contains(key) && m_probe.canReadLine())
                report = QJsonDocument::fromJson(m_probe.readLine()).object();
            return report.contains(key);
        };
        return pumpUntil(found, timeoutMs) ? report : QJsonObject();
    }
    QString paste()
    {
        m_probe.write("clipboard\n");
        return next("clipboard")["clipboard"].toString();
    }

    static inline int s_connections = 0;
    QDBusConnection m_bus = QDBusConnection::connectToBus(
        qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"), QString::number(++s_connections));
    QString m_session;
    std::unique_ptr<MutterClipboard> m_clipboard;
    QProcess m_probe;
};

TEST_F(MutterClipboardTest, OffersArePastedWholeAndEachPasteIsReported)
{
    QString large;
    for (int line = 0; large.size() < 1000000; ++line)
        large += QStringLiteral("%1 é € Ж\n").arg(line, 7, 10, QLatin1Char('0'));
    for (const QString& text :
         {QStringLiteral("plain words"), QStringLiteral("é € Ж 日本 😀\n"), large}) {
        SCOPED_TRACE(text.size());
        int pastes = 0;
        const auto counting =
            QObject::connect(m_clipboard.get(), &MutterClipboard::transferred, [&] { ++pastes; });
        std::optional<bool> offered;
        m_clipboard->offer(text, [&](bool ok) { offered = ok; });
        ASSERT_TRUE(pumpUntil([&] { return offered.has_value(); }, 10000) && *offered);
        EXPECT_TRUE(m_clipboard->ownsSelection());
        EXPECT_EQ(m_clipboard->read(1000), text);
        EXPECT_EQ(paste(), text);
        pumpUntil([&] { return pastes > 0; });
        EXPECT_EQ(pastes, 1) << "the one paste, and not the desktop's own copy";
        QObject::disconnect(counting);
    }
}

} // namespace
} // namespace orvane

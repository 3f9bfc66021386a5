// The clipboard of a GNOME remote-desktop session against the headless GNOME
// that test.sh starts, with the Wayland test window as the other program.
#include "platform/linux/mutter/mutter_clipboard.h"
#include "platform/linux/mutter/mutter_pasteboard.h"
#include "support/pump.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

namespace orvane {
namespace {

using test::pumpUntil;

const QString remoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString screenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");

// The test window: commands in, one JSON report a line out.
class Probe {
public:
    void start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("WAYLAND_DISPLAY"),
                   qEnvironmentVariable("ORVANE_TEST_GNOME_WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                   qEnvironmentVariable("ORVANE_TEST_GNOME_RUNTIME_DIR"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(ORVANE_WAYLAND_PROBE)});
    }
    ~Probe()
    {
        send(QStringLiteral("quit"));
        if (!m_process.waitForFinished(3000))
            m_process.kill();
    }
    void send(const QString& line) { m_process.write((line + '\n').toUtf8()); }
    // The next report that has `key`, passing over the others; an empty
    // object when none comes in time.
    QJsonObject next(const QString& key, int timeoutMs = 10000)
    {
        QJsonObject found;
        pumpUntil(
            [&] {
                m_lines += m_process.readAllStandardOutput();
                for (qsizetype end; found.isEmpty() && (end = m_lines.indexOf('\n')) >= 0;) {
                    const QJsonObject report = QJsonDocument::fromJson(m_lines.left(end)).object();
                    m_lines.remove(0, end + 1);
                    if (report.contains(key))
                        found = report;
                }
                return !found.isEmpty();
            },
            timeoutMs);
        return found;
    }

private:
    QProcess m_process;
    QByteArray m_lines;
};

// A started remote-desktop session on a bus connection of its own, with the
// test window shown and given a click and a key: a Wayland program sees and
// sets the clipboard only after input reached it.
class MutterClipboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
            << "no headless GNOME: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
        ASSERT_TRUE(m_bus.isConnected()) << m_bus.lastError().message().toStdString();
        m_session =
            call(remoteDesktop, "/org/gnome/Mutter/RemoteDesktop", remoteDesktop, "CreateSession")
                .value<QDBusObjectPath>()
                .path();
        const QVariant id = call(remoteDesktop, m_session, "org.freedesktop.DBus.Properties", "Get",
                                 {remoteDesktop + ".Session", QStringLiteral("SessionId")});
        const QString cast =
            call(screenCast, "/org/gnome/Mutter/ScreenCast", screenCast, "CreateSession",
                 {QVariantMap{{"remote-desktop-session-id", id.value<QDBusVariant>().variant()}}})
                .value<QDBusObjectPath>()
                .path();
        m_stream = call(screenCast, cast, screenCast + ".Session", "RecordMonitor",
                        {QString(), QVariantMap{}})
                       .value<QDBusObjectPath>()
                       .path();
        m_clipboard = std::make_unique<MutterClipboard>(m_bus, m_session);
        input("Start");
        m_probe.start();
        ASSERT_FALSE(m_probe.next("ready").isEmpty()) << "the test window did not show";
        input("NotifyPointerMotionAbsolute", {m_stream, 100.0, 100.0});
        for (const bool down : {true, false})
            input("NotifyPointerButton", {0x110, down}); // BTN_LEFT
        // A new keyboard's first keys may be lost while mutter sets it up.
        bool typed = false;
        for (int tries = 0; !typed && tries < 10; ++tries) {
            for (const bool down : {true, false})
                input("NotifyKeyboardKeycode", {42u, down}); // KEY_LEFTSHIFT
            typed = !m_probe.next("key", 500).isEmpty();
        }
        ASSERT_TRUE(typed) << "no key reached the test window";
    }
    void TearDown() override
    {
        m_clipboard.reset();
        QDBusConnection::disconnectFromBus(m_bus.name()); // which ends the session
    }

    QVariant call(const QString& service, const QString& path, const QString& interface,
                  const char* method, const QVariantList& arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = m_bus.call(message, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method << ": " << reply.errorMessage().toStdString();
        return reply.arguments().value(0);
    }
    void input(const char* method, const QVariantList& arguments = {})
    {
        call(remoteDesktop, m_session, remoteDesktop + ".Session", method, arguments);
    }
    bool offer(const QString& text)
    {
        std::optional<bool> offered;
        m_clipboard->offer(text, [&](bool ok) { offered = ok; });
        return pumpUntil([&] { return offered.has_value(); }, 10000) && *offered;
    }

    static inline int s_connections = 0;
    QDBusConnection m_bus =
        QDBusConnection::connectToBus(qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"),
                                      QStringLiteral("gnome-test-%1").arg(++s_connections));
    QString m_session;
    QString m_stream;
    std::unique_ptr<MutterClipboard> m_clipboard;
    Probe m_probe;
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
        const auto connection =
            QObject::connect(m_clipboard.get(), &MutterClipboard::transferred, [&] { ++pastes; });
        ASSERT_TRUE(offer(text));
        EXPECT_TRUE(m_clipboard->ownsSelection());
        EXPECT_EQ(m_clipboard->read(1000), text);
        m_probe.send(QStringLiteral("clipboard"));
        EXPECT_EQ(m_probe.next("clipboard")["clipboard"].toString(), text);
        pumpUntil([&] { return pastes > 0; });
        EXPECT_EQ(pastes, 1) << "the one paste, and not the desktop's own copy";
        QObject::disconnect(connection);
    }
}

TEST_F(MutterClipboardTest, AnotherProgramsCopyEndsOursAndIsRead)
{
    MutterPasteboard pasteboard([this] { return m_clipboard.get(); });
    ASSERT_TRUE(pasteboard.setText(QStringLiteral("ours")));
    bool lost = false;
    QObject::connect(m_clipboard.get(), &MutterClipboard::lostSelection, [&] { lost = true; });
    m_probe.send(QStringLiteral("copy théirs 日本"));
    EXPECT_TRUE(pumpUntil([&] { return lost; }, 5000));
    EXPECT_FALSE(m_clipboard->ownsSelection());
    EXPECT_EQ(pasteboard.text(), QStringLiteral("théirs 日本"));

    ASSERT_TRUE(pasteboard.setText(QStringLiteral("ours again ✓")));
    // The window hears of the new owner on another channel than our
    // question, and may answer from its own copy until then.
    QString pasted;
    for (int tries = 0; tries < 20 && pasted != QStringLiteral("ours again ✓"); ++tries) {
        m_probe.send(QStringLiteral("clipboard"));
        pasted = m_probe.next("clipboard")["clipboard"].toString();
    }
    EXPECT_EQ(pasted, QStringLiteral("ours again ✓"));
}

TEST(MutterPasteboardTest, WithoutASessionNothingIsClaimed)
{
    MutterPasteboard pasteboard([] { return nullptr; });
    EXPECT_EQ(pasteboard.text(), std::nullopt);
    EXPECT_FALSE(pasteboard.setText(QStringLiteral("lost")));
}

} // namespace
} // namespace orvane

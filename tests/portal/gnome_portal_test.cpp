// The portal backend against the real desktop portal on the headless GNOME
// session: its dialog answered through AT-SPI as a user would, input checked
// in a test window, and a screen cast that the portal restores without
// asking again. The portal keeps its tokens in a throw-away home.
#include "platform/linux/portal/portal_backend.h"
#include "support/pump.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace orvane {
namespace {

class GnomePortalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qgetenv("ORVANE_TEST_GNOME_OK"), "1")
            << "no headless GNOME: " << qgetenv("ORVANE_TEST_GNOME_ERROR").toStdString();
        env.remove("DISPLAY");
        env.insert("HOME", home.path());
        env.insert("DBUS_SESSION_BUS_ADDRESS", qgetenv("ORVANE_TEST_GNOME_BUS"));
        env.insert("XDG_RUNTIME_DIR", qgetenv("ORVANE_TEST_GNOME_RUNTIME_DIR"));
        env.insert("WAYLAND_DISPLAY", qgetenv("ORVANE_TEST_GNOME_WAYLAND_DISPLAY"));
        env.insert("XDG_CURRENT_DESKTOP", "GNOME");
        env.insert("XDG_SESSION_TYPE", "wayland");
        env.insert("GDK_BACKEND", "wayland");
        // The portal's own services, replacing any the bus started with
        // another home, so tokens from earlier runs are not there. AT-SPI
        // is started by the bus when the windows ask for it.
        spawn("/usr/libexec/xdg-permission-store", {"--replace"});
        spawn("/usr/libexec/xdg-desktop-portal-gnome", {"--replace"});
        spawn("/usr/libexec/xdg-desktop-portal", {"--replace"});
        ASSERT_TRUE(
            test::pumpUntil([&] { return portalRemoteDesktopDeviceTypes(bus) == 7; }, 20000))
            << "the desktop portal did not start on the GNOME session";
        probe = spawn("/usr/bin/python3", {ORVANE_WAYLAND_PROBE});
        ASSERT_TRUE(heard("\"ready\"")) << "the test window did not show";
    }
    void TearDown() override
    {
        for (auto& process : processes) {
            process->kill();
            process->waitForFinished();
        }
    }
    QProcess* spawn(const QString& program, const QStringList& arguments)
    {
        auto& process = processes.emplace_back(std::make_unique<QProcess>());
        process->setProcessEnvironment(env);
        if (program.startsWith("/usr/libexec/")) {
            // Logs of their own: what they start keeps their output open,
            // and must not keep ctest waiting on it.
            const QString log = home.filePath(program.section('/', -1) + ".log");
            process->setStandardOutputFile(log);
            process->setStandardErrorFile(log, QIODevice::Append);
        } else {
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        process->start(program, arguments);
        return process.get();
    }
    // Presses a button of the portal's dialog: "share", "share-input" or
    // "cancel".
    void answer(const char* how)
    {
        answering = how;
        answerer = spawn("/usr/bin/python3", {ORVANE_ANSWER_DIALOG, how});
        answeredAt.start();
    }
    // Whether the test window reports a line that holds `text`.
    bool heard(const QString& text, int timeoutMs = 20000)
    {
        return test::pumpUntil(
            [&] {
                while (probe->canReadLine()) {
                    const QString line = QString::fromUtf8(probe->readLine());
                    lastLine = line;
                    if (line.contains(text))
                        return true;
                }
                return false;
            },
            timeoutMs);
    }
    PortalBackend makeBackend()
    {
        return makePortalBackend(bus,
                                 {[] { return QString(); }, [](auto) {},
                                  [this] { return castToken; }, [this](auto t) { castToken = t; }});
    }
    bool becomes(PortalAccess& access, PortalApproval approval)
    {
        const bool reached = test::pumpUntil(
            [&] {
                // On GNOME Shell an accessibility client now and then waits
                // for good on its first look at the desktop; a new one does
                // not.
                if (answerer && answeredAt.elapsed() > 8000) {
                    answerer->kill();
                    answer(answering);
                }
                return access.inputApproval() == approval;
            },
            40000);
        answerer = nullptr;
        return reached;
    }

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> processes;
    QProcess* probe = nullptr;
    QDBusConnection bus =
        QDBusConnection::connectToBus(qEnvironmentVariable("ORVANE_TEST_GNOME_BUS"), "gnome");
    QString castToken;
    const char* answering = nullptr;
    QProcess* answerer = nullptr;
    QElapsedTimer answeredAt;
    QString lastLine;
};

TEST_F(GnomePortalTest, InputArrivesOnceSharedAndNotWhenCancelled)
{
    PortalBackend shared = makeBackend();
    shared.input->moveCursor({800, 500});
    answer("share-input");
    ASSERT_TRUE(becomes(*shared.access, PortalApproval::granted));
    // What comes while the dialog closes may still go to the dialog, where
    // the window is now; a click once it has gone gives the window the
    // keyboard back.
    bool clicked = false;
    for (int attempt = 0; attempt < 10 && !clicked; ++attempt) {
        shared.input->setButton(MouseButton::left, true);
        shared.input->setButton(MouseButton::left, false);
        clicked = heard("\"release\": 1, \"x\": 800.0, \"y\": 500.0", 2000);
    }
    EXPECT_TRUE(clicked);
    // The text view takes the keyboard a moment after the click: keys are
    // typed until one arrives, then the text is checked.
    for (int attempt = 0; attempt < 10 && !heard("\"text\"", 1000); ++attempt)
        shared.input->pressKey(KeyShortcut::Key::space, 0);
    bool hi = false;
    for (int attempt = 0; attempt < 10 && !hi; ++attempt) {
        shared.input->typeText("hi");
        hi = heard("hi\"}", 1500);
    }
    EXPECT_TRUE(hi);

    PortalBackend cancelled = makeBackend();
    cancelled.input->typeText("no");
    answer("cancel");
    ASSERT_TRUE(becomes(*cancelled.access, PortalApproval::declined));
    // The dialog had the keyboard too: clicked and typed until "k" arrives.
    bool typed = false;
    for (int attempt = 0; attempt < 10 && !typed; ++attempt) {
        shared.input->setButton(MouseButton::left, true);
        shared.input->setButton(MouseButton::left, false);
        shared.input->typeText("k");
        typed = heard("k\"}", 1000);
    }
    EXPECT_TRUE(typed);
    EXPECT_TRUE(lastLine.contains("hi") && !lastLine.contains("no")) << lastLine.toStdString();
}

TEST_F(GnomePortalTest, ScreenCastIsRestoredWithoutAsking)
{
    for (bool asked : {true, false}) {
        PortalBackend backend = makeBackend();
        std::optional<ScreenStreamHandle> handle;
        QString error = "no answer";
        backend.streams->open(0, [&](auto stream, QString why) {
            handle = stream;
            error = why;
        });
        if (asked)
            answer("share");
        ASSERT_TRUE(test::pumpUntil([&] { return error != "no answer"; }, 40000)) << asked;
        ASSERT_TRUE(handle) << error.toStdString();
        EXPECT_GT(handle->nodeId, 0u);
        ::close(handle->pipewireFd);
        EXPECT_EQ(backend.streams->displays().at(0).pixelWidth, 1600);
        EXPECT_FALSE(castToken.isEmpty());
    }
}

} // namespace
} // namespace orvane

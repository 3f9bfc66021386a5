#include "managed_display.h"

#include "platform/linux/x11/x11_properties.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <cstdlib>

namespace orvane::test {

namespace {

constexpr int startMs = 10000;

void stop(QProcess& process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(startMs);
    }
}

} // namespace

PrivateDisplay::~PrivateDisplay()
{
    close();
    stop(m_server);
    qputenv("DISPLAY", m_oldDisplay);
}

::testing::AssertionResult PrivateDisplay::start(const QStringList& serverArguments,
                                                 const QString& screen)
{
    m_oldDisplay = qgetenv("DISPLAY");
    // -displayfd: Xvfb picks a free display and names it once it accepts
    // connections.
    m_server.start(QStringLiteral("Xvfb"), QStringList{"-displayfd", "1", "-screen", "0", screen,
                                                       "-nolisten", "tcp", "-noreset"} +
                                               serverArguments);
    if (!m_server.waitForStarted(startMs))
        return ::testing::AssertionFailure()
               << "Xvfb is missing or cannot start: " << m_server.errorString().toStdString();
    QDeadlineTimer deadline(startMs);
    while (!m_server.canReadLine() && m_server.waitForReadyRead(int(deadline.remainingTime())))
        ;
    const QByteArray display = ":" + m_server.readLine().trimmed();
    if (display == ":")
        return ::testing::AssertionFailure() << "Xvfb gave no display number";
    qputenv("DISPLAY", display);
    return open(display.constData());
}

ManagedDisplay::~ManagedDisplay()
{
    close();
    stop(m_windowManager);
}

::testing::AssertionResult ManagedDisplay::start(const QStringList& serverArguments)
{
    if (auto started = PrivateDisplay::start(serverArguments); !started)
        return started;
    // The user's own openbox settings stay out of it; its themes come from
    // the system, whatever data folders the tests chose for themselves.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_DIRS"),
                       QStringLiteral("/usr/local/share:/usr/share"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       m_home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
    m_windowManager.setProcessEnvironment(environment);
    m_windowManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_windowManager.waitForStarted(startMs))
        return ::testing::AssertionFailure() << "openbox is missing or cannot start: "
                                             << m_windowManager.errorString().toStdString();
    // The window manager names a window of its own on the root, and that
    // window names itself: a left-over property from an earlier one would not.
    const bool ready = eventually([this] {
        const auto check = property(root(), "_NET_SUPPORTING_WM_CHECK");
        return !check.empty() && property(check[0], "_NET_SUPPORTING_WM_CHECK") == check &&
               !property(root(), "_NET_WORKAREA").empty();
    });
    if (!ready)
        return ::testing::AssertionFailure()
               << "openbox did not take over the display"
               << (m_windowManager.waitForFinished(0) ? " (it ended)" : "");
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ManagedDisplay::show(TestApplication& app, const QStringList& windows)
{
    // In two of three full-suite runs, one test found its application's
    // windows left unmanaged by an openbox that had announced itself. The
    // cause is not known yet; the application gets one second chance, and a
    // second miss still fails the test.
    for (int attempt = 0; attempt < 2; ++attempt) {
        app.kill();
        app.windows.clear();
        if (auto started = app.start(windows); !started)
            return started;
        if (eventually([&] { return managed(app.windows); }))
            return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "openbox did not map the test windows";
}

// Listed, shown and framed by the window manager.
bool ManagedDisplay::managed(const std::vector<std::uint32_t>& windows)
{
    const auto listed = stacking();
    return std::all_of(windows.begin(), windows.end(), [&](std::uint32_t w) {
        const auto attributes = takeReply(connection(), xcb_get_window_attributes(connection(), w),
                                          &xcb_get_window_attributes_reply);
        return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
               std::find(listed.begin(), listed.end(), w) != listed.end() &&
               !property(w, "_NET_FRAME_EXTENTS").empty();
    });
}

bool ManagedDisplay::hasState(xcb_window_t window, const char* state)
{
    const auto states = property(window, "_NET_WM_STATE");
    return std::find(states.begin(), states.end(), atom(state)) != states.end();
}

} // namespace orvane::test

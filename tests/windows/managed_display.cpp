#include "managed_display.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace orvane::test {

namespace {

constexpr int startSeconds = 10;

bool viewable(xcb_connection_t* c, xcb_window_t window)
{
    auto* reply = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    const bool out = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return out;
}

} // namespace

bool eventually(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(startSeconds * 1000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

ManagedDisplay::~ManagedDisplay()
{
    if (m_c)
        xcb_disconnect(m_c);
    for (QProcess* process : {&m_windowManager, &m_server}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(startSeconds * 1000);
        }
    }
}

::testing::AssertionResult ManagedDisplay::start(const QStringList& serverArguments)
{
    m_server.start(QStringLiteral("Xvfb"),
                   QStringList{"-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten",
                               "tcp", "-noreset"} +
                       serverArguments);
    if (!m_server.waitForStarted(startSeconds * 1000))
        return ::testing::AssertionFailure()
               << "Xvfb is missing or cannot start: " << m_server.errorString().toStdString();
    QDeadlineTimer deadline(startSeconds * 1000);
    while (!m_server.canReadLine() && m_server.waitForReadyRead(int(deadline.remainingTime())))
        ;
    const QByteArray number = m_server.readLine().trimmed();
    if (number.isEmpty())
        return ::testing::AssertionFailure() << "Xvfb gave no display number";
    const QByteArray display = ":" + number;
    qputenv("DISPLAY", display);
    m_c = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(m_c))
        return ::testing::AssertionFailure() << "cannot connect to Xvfb on " << display.data();
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;

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
    if (!m_windowManager.waitForStarted(startSeconds * 1000))
        return ::testing::AssertionFailure() << "openbox is missing or cannot start: "
                                             << m_windowManager.errorString().toStdString();
    if (!eventually([this] { return windowManagerReady(); }))
        return ::testing::AssertionFailure()
               << "openbox did not take over the display"
               << (m_windowManager.waitForFinished(0) ? " (it ended)" : "");
    return ::testing::AssertionSuccess();
}

// The window manager names a window of its own on the root, and that window
// names itself: a left-over property from an earlier one would not.
bool ManagedDisplay::windowManagerReady()
{
    const auto check = property(m_root, "_NET_SUPPORTING_WM_CHECK");
    return !check.empty() && property(check[0], "_NET_SUPPORTING_WM_CHECK") == check &&
           !property(m_root, "_NET_WORKAREA").empty();
}

xcb_atom_t ManagedDisplay::atom(const char* name)
{
    auto* reply = xcb_intern_atom_reply(
        m_c, xcb_intern_atom(m_c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

std::vector<std::uint32_t> ManagedDisplay::property(xcb_window_t window, const char* name)
{
    auto* reply = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, window, atom(name), XCB_ATOM_ANY, 0, 4096), nullptr);
    std::vector<std::uint32_t> out;
    if (reply && reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        out.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return out;
}

bool ManagedDisplay::hasState(xcb_window_t window, const char* state)
{
    const auto states = property(window, "_NET_WM_STATE");
    return std::find(states.begin(), states.end(), atom(state)) != states.end();
}

TestApplication::~TestApplication()
{
    kill();
}

void TestApplication::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(startSeconds * 1000);
    }
}

::testing::AssertionResult TestApplication::start(ManagedDisplay& display,
                                                  const std::vector<std::string>& descriptions)
{
    // In two of three full-suite runs, one test found its client's windows
    // left unmanaged by an openbox that had announced itself. The cause is
    // not known yet; the client gets one second chance, and a second miss
    // still fails the test.
    auto first = startOnce(display, descriptions);
    if (first || !m_managedMiss)
        return first;
    kill();
    windows.clear();
    return startOnce(display, descriptions);
}

::testing::AssertionResult TestApplication::startOnce(ManagedDisplay& display,
                                                      const std::vector<std::string>& descriptions)
{
    m_managedMiss = false;
    QStringList arguments;
    for (const std::string& wanted : descriptions)
        arguments << QString::fromStdString(wanted);
    m_process.start(QStringLiteral(ORVANE_WINDOW_TEST_CLIENT), arguments);
    if (!m_process.waitForStarted(startSeconds * 1000))
        return ::testing::AssertionFailure()
               << "test client: " << m_process.errorString().toStdString();
    QDeadlineTimer deadline(startSeconds * 1000);
    while (windows.size() < descriptions.size()) {
        if (!m_process.canReadLine() && !m_process.waitForReadyRead(int(deadline.remainingTime())))
            return ::testing::AssertionFailure() << "test client printed no window ids";
        windows.push_back(std::uint32_t(m_process.readLine().trimmed().toULong()));
    }
    const bool managed = eventually([&] {
        const auto stacking = display.stacking();
        return std::all_of(windows.begin(), windows.end(), [&](std::uint32_t w) {
            return std::find(stacking.begin(), stacking.end(), w) != stacking.end() &&
                   viewable(display.connection(), w) &&
                   !display.property(w, "_NET_FRAME_EXTENTS").empty();
        });
    });
    if (!managed) {
        m_managedMiss = true;
        return ::testing::AssertionFailure() << "openbox did not map the test windows";
    }
    return ::testing::AssertionSuccess();
}

} // namespace orvane::test

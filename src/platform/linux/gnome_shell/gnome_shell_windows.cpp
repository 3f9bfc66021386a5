#include "gnome_shell_windows.h"

#include "shell_window_pictures.h"

#include <QDBusError>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QTimer>

#include <cmath>

namespace orvane {

namespace {

// The shell lists a few dozen windows in milliseconds, but stalls for
// seconds while a client that went away is cleaned up. Waiting costs
// nothing: the call does not block.
constexpr int listTimeoutMs = 10000;
// A shell that did not answer in time is asked again after this long.
constexpr int retryMs = 1000;
// The work area is asked for when a phone places a window; waiting longer
// would stall the event loop, so a slow answer falls back to the last one.
constexpr int workAreaTimeoutMs = 40;

void notify(const std::function<void()>& callback)
{
    if (callback)
        callback();
}

int rounded(double value)
{
    if (!std::isfinite(value))
        return 0;
    return int(std::lround(std::clamp(value, -1e6, 1e6)));
}

} // namespace

GnomeShellWindows::GnomeShellWindows(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(bus), m_pictures(std::make_unique<ShellWindowPictures>(bus))
{
    for (const char* signal : {"WindowsChanged", "FocusChanged"})
        m_bus.connect(gnome_shell::service, gnome_shell::path, gnome_shell::interface,
                      QLatin1String(signal), this, SLOT(refresh()));
    // The shell restarting, or the extension being switched on or off,
    // shows as its name coming and going.
    m_watcher = new QDBusServiceWatcher(gnome_shell::service, m_bus,
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty())
                    forget();
                else
                    refresh();
            });
    refresh();
}

GnomeShellWindows::~GnomeShellWindows()
{
    for (const char* signal : {"WindowsChanged", "FocusChanged"})
        m_bus.disconnect(gnome_shell::service, gnome_shell::path, gnome_shell::interface,
                         QLatin1String(signal), this, SLOT(refresh()));
}

void GnomeShellWindows::refresh()
{
    if (m_asking) {
        m_askAgain = true;
        return;
    }
    m_asking = true;
    m_askAgain = false;
    auto message = QDBusMessage::createMethodCall(gnome_shell::service, gnome_shell::path,
                                                  gnome_shell::interface, "GetWindows");
    message.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, listTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation = m_generation](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                m_asking = false;
                // The name went away while asking: that answer is stale.
                if (generation == m_generation)
                    received(call->reply());
                if (m_askAgain)
                    refresh();
            });
}

void GnomeShellWindows::received(const QDBusMessage& reply)
{
    const QDBusError::ErrorType error = QDBusError(reply).type();
    // A busy shell is still there: the windows it listed last stand.
    if (error == QDBusError::NoReply || error == QDBusError::Timeout) {
        QTimer::singleShot(retryMs, this, &GnomeShellWindows::refresh);
        return;
    }
    const bool answered = reply.type() == QDBusMessage::ReplyMessage;
    apply(answered ? parseShellWindows(reply) : std::vector<ShellWindow>{}, answered);
}

void GnomeShellWindows::forget()
{
    ++m_generation;
    apply({}, false);
}

void GnomeShellWindows::apply(std::vector<ShellWindow> windows, bool present)
{
    const std::optional<std::uint32_t> focusBefore = activeWindow();
    const std::set<std::int32_t> pidsBefore = applicationPids();
    const bool presenceChanged = present != m_present;
    m_windows = std::move(windows);
    m_present = present;
    std::set<std::uint64_t> ids;
    for (const ShellWindow& shell : m_windows)
        ids.insert(shell.shellId);
    m_pictures->keepOnly(ids);
    if (presenceChanged)
        notify(onPresenceChanged);
    if (applicationPids() != pidsBefore)
        notify(onApplicationsChanged);
    if (activeWindow() != focusBefore)
        notify(onFrontmostChanged);
}

std::set<std::int32_t> GnomeShellWindows::applicationPids() const
{
    std::set<std::int32_t> pids;
    for (const ShellWindow& shell : m_windows)
        if (shell.window.normal && shell.window.pid > 0)
            pids.insert(shell.window.pid);
    return pids;
}

const ShellWindow* GnomeShellWindows::find(std::uint32_t id) const
{
    for (const ShellWindow& shell : m_windows)
        if (shell.window.id == id)
            return &shell;
    return nullptr;
}

std::vector<DesktopWindow> GnomeShellWindows::windows()
{
    std::vector<DesktopWindow> windows;
    windows.reserve(m_windows.size());
    for (const ShellWindow& shell : m_windows)
        windows.push_back(shell.window);
    return windows;
}

std::optional<std::uint32_t> GnomeShellWindows::activeWindow()
{
    for (const ShellWindow& shell : m_windows)
        if (shell.focused)
            return shell.window.id;
    return std::nullopt;
}

std::optional<Rect> GnomeShellWindows::frame(std::uint32_t id)
{
    const ShellWindow* shell = find(id);
    if (!shell || !shell->window.onScreen)
        return std::nullopt;
    return shell->window.frame;
}

std::optional<Rect> GnomeShellWindows::workArea(Point p)
{
    if (!m_present)
        return std::nullopt;
    auto message = QDBusMessage::createMethodCall(gnome_shell::service, gnome_shell::path,
                                                  gnome_shell::interface, "WorkArea");
    message.setAutoStartService(false);
    message.setArguments({rounded(p.x), rounded(p.y)});
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, workAreaTimeoutMs);
    if (const std::optional<Rect> area = parseShellWorkArea(reply))
        m_lastWorkArea = area;
    return m_lastWorkArea;
}

bool GnomeShellWindows::request(std::uint32_t id, const char* method, const QVariantList& more)
{
    const ShellWindow* shell = find(id);
    if (!shell)
        return false;
    auto message = QDBusMessage::createMethodCall(gnome_shell::service, gnome_shell::path,
                                                  gnome_shell::interface, QLatin1String(method));
    message.setAutoStartService(false);
    message.setArguments(QVariantList{qulonglong(shell->shellId)} + more);
    // The shell's signals tell what came of it; the answer itself says nothing more.
    return m_bus.send(message);
}

bool GnomeShellWindows::activate(std::uint32_t id)
{
    return request(id, "Activate");
}

void GnomeShellWindows::sendToBack(std::uint32_t id)
{
    request(id, "SendToBack");
}

void GnomeShellWindows::close(std::uint32_t id)
{
    request(id, "Close");
}

void GnomeShellWindows::minimize(std::uint32_t id)
{
    request(id, "Minimize");
}

void GnomeShellWindows::toggleFullScreen(std::uint32_t id)
{
    request(id, "ToggleFullScreen");
}

void GnomeShellWindows::setFrame(std::uint32_t id, const Rect& frame)
{
    if (frame.isNull())
        return;
    request(id, "SetFrame",
            {rounded(frame.x), rounded(frame.y), rounded(frame.width), rounded(frame.height)});
}

std::optional<QByteArray> GnomeShellWindows::grabJpeg(std::uint32_t id, int width, int height,
                                                      int quality)
{
    const ShellWindow* shell = find(id);
    // mutter draws nothing of a minimised window.
    if (!shell || !shell->window.onScreen)
        return std::nullopt;
    return m_pictures->jpeg(shell->shellId, width, height, quality);
}

std::optional<std::int32_t> GnomeShellWindows::frontmostPid()
{
    for (const ShellWindow& shell : m_windows)
        if (shell.focused && shell.window.pid > 0)
            return shell.window.pid;
    return std::nullopt;
}

} // namespace orvane

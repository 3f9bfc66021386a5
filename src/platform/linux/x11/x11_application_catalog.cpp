#include "x11_application_catalog.h"
#include "client_window.h"
#include "platform/linux/desktop/app_favourites.h"
#include "platform/linux/desktop/mime_apps.h"
#include "platform/linux/desktop/theme_icons.h"
#include "platform/linux/machine/app_process.h"
#include "process_traits.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

namespace orvane {

AppWindowSource x11AppWindows(std::shared_ptr<X11Connection> x11)
{
    if (!x11)
        return {[] { return std::vector<ClientWindow>{}; },
                [](const std::vector<ClientWindow>&) {}};
    return {[x11] { return listClientWindows(*x11); },
            [x11](const std::vector<ClientWindow>& windows) { requestClose(*x11, windows); }};
}

AppWindowSource appWindowsOf(WindowSystem& windows)
{
    auto list = [&windows] {
        std::vector<ClientWindow> out;
        for (const DesktopWindow& w : windows.windows()) {
            ClientWindow client;
            client.window = w.id;
            client.pid = w.pid;
            // A Wayland window has one application id where X11 has two names.
            client.wmInstance = client.wmClass = w.applicationClass;
            client.normal = w.normal;
            client.shell = w.shell;
            out.push_back(client);
        }
        return out;
    };
    auto close = [&windows](const std::vector<ClientWindow>& chosen) {
        for (const ClientWindow& w : chosen)
            windows.close(w.window);
    };
    return {list, close};
}

X11ApplicationCatalog::X11ApplicationCatalog(std::shared_ptr<X11Connection> x11,
                                             std::chrono::milliseconds killGrace)
    : X11ApplicationCatalog(x11AppWindows(std::move(x11)), killGrace)
{
}

X11ApplicationCatalog::X11ApplicationCatalog(AppWindowSource windows,
                                             std::chrono::milliseconds killGrace)
    : m_windows(std::move(windows)), m_killGrace(killGrace),
      m_timerContext(std::make_unique<QObject>())
{
}

X11ApplicationCatalog::~X11ApplicationCatalog() = default;

std::vector<InstalledApp> X11ApplicationCatalog::installedApps()
{
    std::vector<InstalledApp> out;
    for (const IndexedApp& app : m_index.apps())
        out.push_back(app.app);
    return out;
}

std::optional<InstalledApp> X11ApplicationCatalog::findApp(const QString& bundleID)
{
    const IndexedApp* app = m_index.find(bundleID);
    return app ? std::optional(app->app) : std::nullopt;
}

std::optional<InstalledApp> X11ApplicationCatalog::defaultAppFor(const QString& mimeType)
{
    const QString suffix = QStringLiteral(".desktop");
    const MimeAssociations associations = mimeAssociations(mimeType);
    for (const QString& id : associations.defaults + associations.added) {
        if (!id.endsWith(suffix) || associations.removed.contains(id))
            continue;
        if (const IndexedApp* app = m_index.find(id.chopped(suffix.size())))
            return app->app;
    }
    for (const IndexedApp& app : m_index.apps()) {
        if (app.mimeTypes.contains(mimeType) &&
            !associations.removed.contains(app.app.bundleID + suffix))
            return app.app;
    }
    return std::nullopt;
}

std::vector<QString> X11ApplicationCatalog::dockApps()
{
    return readDesktopFavourites();
}

std::vector<RunningApp> X11ApplicationCatalog::runningApps()
{
    const std::vector<ClientWindow> windows = m_windows.list();
    if (windows.empty())
        return {};
    return runningAppsFromWindows(m_index.apps(), windows, processExecutableNames);
}

bool X11ApplicationCatalog::launch(const InstalledApp& app)
{
    // Only what the scan found is run, never a path or command from outside.
    const IndexedApp* entry = m_index.find(app.bundleID);
    if (!entry || entry->argv.isEmpty())
        return false;
    QStringList arguments = entry->argv;
    const QString program = arguments.takeFirst();
    const QString folder =
        QFileInfo(entry->workingDirectory).isDir() ? entry->workingDirectory : QString();
    return QProcess::startDetached(program, arguments, folder);
}

// A close request is all a polite quit sends: an editor asked to close may
// be showing "Save changes?", and a signal then would lose the user's work.
// The desktop and dock windows of a process stay: they are the desktop.
void X11ApplicationCatalog::terminate(std::int32_t pid)
{
    if (!isSignallablePid(pid))
        return;
    std::vector<ClientWindow> windows = m_windows.list();
    std::erase_if(windows, [pid](const ClientWindow& w) { return w.pid != pid || w.shell; });
    if (!windows.empty())
        m_windows.requestClose(windows);
}

bool X11ApplicationCatalog::forceTerminate(std::int32_t pid)
{
    if (!isSignallablePid(pid))
        return false;
    const auto startTime = processStartTime(pid);
    if (!startTime || ::kill(pid, SIGTERM) != 0)
        return false; // gone, or not ours to signal
    scheduleKill(pid, *startTime);
    return true;
}

void X11ApplicationCatalog::scheduleKill(std::int32_t pid, std::uint64_t startTime)
{
    if (!QCoreApplication::instance())
        return; // no event loop would ever run the timer
    // Precise: a coarse timer may fire early, cutting the promised grace.
    QTimer::singleShot(m_killGrace, Qt::PreciseTimer, m_timerContext.get(), [pid, startTime] {
        // The same process, still running: not one that reused its number.
        if (processStartTime(pid) == startTime)
            ::kill(pid, SIGKILL);
    });
}

std::vector<std::int32_t> X11ApplicationCatalog::sessionProcesses()
{
    std::vector<std::int32_t> out = ownAncestors();
    out.push_back(std::int32_t(::getpid()));
    for (const ClientWindow& window : m_windows.list()) {
        if (window.shell && window.pid > 0)
            out.push_back(window.pid);
    }
    return out;
}

std::optional<QByteArray> X11ApplicationCatalog::iconPng(const QString& bundleID, int pixels)
{
    const IndexedApp* app = m_index.find(bundleID);
    if (!app || app->icon.isEmpty())
        return std::nullopt;
    return renderIconPng(app->icon, pixels);
}

QString X11ApplicationCatalog::ownBundleID()
{
    return QStringLiteral("orvane");
}

} // namespace orvane

#include "app_commands.h"

#include "app_matching.h"

#include <algorithm>

namespace orvane {

namespace {

QString displayName(const RunningApp& app, const QString& fallback)
{
    return app.name.isEmpty() ? fallback : app.name;
}

} // namespace

CommandResult AppCommands::start(const InstalledApp& app)
{
    // An entry whose program cannot be started must not be reported as
    // opening.
    if (!m_apps.launch(app))
        return CommandResult::failure(tr("Couldn't open %1").arg(app.name));
    return CommandResult::ok(tr("Opening %1").arg(app.name));
}

CommandResult AppCommands::launch(const std::string& bundleID)
{
    auto app = m_apps.findApp(QString::fromStdString(bundleID));
    if (!app)
        return CommandResult::failure(tr("App not found"));
    return start(*app);
}

CommandResult AppCommands::open(const std::string& name)
{
    QString requested = QString::fromStdString(name);
    auto apps = m_apps.installedApps();
    auto found = findInstalledApp(requested, apps);
    if (!found)
        return CommandResult::failure(tr("Couldn't find \"%1\"").arg(requested));
    return start(apps[*found]);
}

CommandResult AppCommands::quit(const std::string& bundleID)
{
    QString id = QString::fromStdString(bundleID);
    std::vector<RunningApp> matching;
    for (auto& app : m_apps.runningApps()) {
        if (!app.bundleID.isEmpty() && app.bundleID == id)
            matching.push_back(app);
    }
    if (matching.empty())
        return CommandResult::failure(tr("App isn't running"));
    for (const auto& app : matching)
        m_apps.terminate(app.pid);
    return CommandResult::ok(tr("Quitting %1").arg(displayName(matching.front(), tr("App"))));
}

CommandResult AppCommands::quitNamed(const std::string& name)
{
    QString requested = QString::fromStdString(name);
    auto running = m_apps.runningApps();
    auto found = findRunningApp(requested, running);
    if (!found)
        return CommandResult::failure(tr("%1 isn't open").arg(requested));
    const RunningApp& app = running[*found];
    m_apps.terminate(app.pid);
    return CommandResult::ok(tr("Quitting %1").arg(displayName(app, requested)));
}

CommandResult AppCommands::forceQuit(std::int32_t pid)
{
    // Only processes that are applications on the desktop can be ended from
    // the phone; any other pid is not ours to signal.
    for (const auto& app : m_apps.runningApps()) {
        if (app.pid != pid)
            continue;
        QString name = displayName(app, tr("App"));
        if (!m_apps.forceTerminate(pid))
            return CommandResult::failure(tr("Couldn't force quit %1").arg(name));
        return CommandResult::ok(tr("Force quit %1").arg(name));
    }
    return CommandResult::failure(tr("App isn't running"));
}

// Quitting the terminal that runs us, or the desktop, would end this program
// or the user's session along with the applications.
CommandResult AppCommands::quitAll()
{
    const QString own = m_apps.ownBundleID();
    const std::vector<std::int32_t> session = m_apps.sessionProcesses();
    int count = 0;
    for (const auto& app : m_apps.runningApps()) {
        if (!app.bundleID.isEmpty() && app.bundleID == own)
            continue;
        if (std::find(session.begin(), session.end(), app.pid) != session.end())
            continue;
        m_apps.terminate(app.pid);
        ++count;
    }
    return CommandResult::ok(tr("Quitting %1 apps").arg(count));
}

} // namespace orvane

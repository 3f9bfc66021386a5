#include "process_traits.h"

#include <unistd.h>

namespace orvane {

namespace {

bool sameName(const QString& a, const QString& b)
{
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

template <class Predicate>
const IndexedApp* firstApp(const std::vector<IndexedApp>& apps, Predicate predicate)
{
    for (const IndexedApp& app : apps) {
        if (predicate(app))
            return &app;
    }
    return nullptr;
}

} // namespace

bool isGenericLauncher(const QString& program)
{
    static const QStringList generic = {
        QStringLiteral("sh"),   QStringLiteral("bash"),   QStringLiteral("dash"),
        QStringLiteral("env"),  QStringLiteral("python"), QStringLiteral("python3"),
        QStringLiteral("perl"), QStringLiteral("java"),   QStringLiteral("flatpak"),
        QStringLiteral("snap"), QStringLiteral("gjs"),    QStringLiteral("electron"),
    };
    return generic.contains(program);
}

const IndexedApp* matchInstalledApp(const std::vector<IndexedApp>& apps,
                                    const ProcessTraits& process)
{
    if (const auto* app = firstApp(apps, [&](const IndexedApp& a) {
            return sameName(a.startupWMClass, process.wmClass) ||
                   sameName(a.startupWMClass, process.wmInstance);
        }))
        return app;
    if (const auto* app = firstApp(apps, [&](const IndexedApp& a) {
            return !a.programName.isEmpty() && !isGenericLauncher(a.programName) &&
                   process.executableNames.contains(a.programName);
        }))
        return app;
    return firstApp(apps, [&](const IndexedApp& a) {
        return sameName(a.app.bundleID, process.wmClass) ||
               sameName(a.app.bundleID, process.wmInstance);
    });
}

RunningApp describeProcess(const std::vector<IndexedApp>& apps, const ProcessTraits& process)
{
    RunningApp running;
    running.pid = process.pid;
    if (const IndexedApp* app = matchInstalledApp(apps, process)) {
        running.bundleID = app->app.bundleID;
        running.name = app->app.name;
        running.fileName = app->app.fileName;
        return running;
    }
    running.name = !process.wmClass.isEmpty()      ? process.wmClass
                   : !process.wmInstance.isEmpty() ? process.wmInstance
                                                   : process.executableNames.value(0);
    return running;
}

std::vector<RunningApp>
runningAppsFromWindows(const std::vector<IndexedApp>& apps,
                       const std::vector<ClientWindow>& windows,
                       const std::function<QStringList(std::int32_t)>& executableNames)
{
    std::vector<RunningApp> out;
    const std::int32_t self = ::getpid();
    for (const ClientWindow& window : windows) {
        if (!window.normal || window.pid <= 0 || window.pid == self)
            continue;
        const bool known = std::any_of(out.begin(), out.end(),
                                       [&](const RunningApp& r) { return r.pid == window.pid; });
        if (known)
            continue;
        out.push_back(describeProcess(
            apps, {window.pid, window.wmInstance, window.wmClass, executableNames(window.pid)}));
    }
    return out;
}

} // namespace orvane

#include "phone_queries.h"

#include "app_matching.h"

namespace orvane {

AppCatalogPayload PhoneQueries::appCatalog()
{
    std::vector<InstalledApp> installed = m_sources.applications.installedApps();
    sortByName(installed);
    AppCatalogPayload catalog;
    for (const InstalledApp& app : installed)
        catalog.apps.push_back(MacApp{app.bundleID.toStdString(), app.name.toStdString()});
    for (const QString& bundleID : m_sources.applications.dockApps())
        catalog.dock.push_back(bundleID.toStdString());
    catalog.running = runningApps();
    return catalog;
}

std::optional<Bytes> PhoneQueries::icon(const std::string& bundleID)
{
    auto png = m_sources.applications.iconPng(QString::fromStdString(bundleID), 128);
    if (!png)
        return std::nullopt;
    return Bytes(png->begin(), png->end());
}

std::vector<MacWindow> PhoneQueries::windows()
{
    return m_sources.windows.listWindows();
}

std::optional<Bytes> PhoneQueries::thumbnail(std::uint32_t windowID)
{
    auto jpeg = m_sources.windows.captureThumbnail(windowID);
    if (!jpeg)
        return std::nullopt;
    return Bytes(jpeg->begin(), jpeg->end());
}

std::optional<std::string> PhoneQueries::clipboard()
{
    return m_sources.desktop.clipboardText();
}

std::optional<MacApp> PhoneQueries::frontmostApp()
{
    auto pid = m_sources.events ? m_sources.events->frontmostPid() : std::nullopt;
    if (!pid)
        return std::nullopt;
    ApplicationCatalog& apps = m_sources.applications;
    for (const RunningApp& app : apps.runningApps()) {
        if (app.pid != *pid)
            continue;
        if (app.bundleID.isEmpty() || app.bundleID == apps.ownBundleID())
            return std::nullopt;
        QString name = app.name.isEmpty() ? app.bundleID : app.name;
        return MacApp{app.bundleID.toStdString(), name.toStdString()};
    }
    return std::nullopt;
}

std::vector<std::string> PhoneQueries::runningApps()
{
    std::vector<std::string> running;
    for (const RunningApp& app : m_sources.applications.runningApps()) {
        if (!app.bundleID.isEmpty())
            running.push_back(app.bundleID.toStdString());
    }
    return running;
}

} // namespace orvane

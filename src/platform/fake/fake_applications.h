#pragma once

#include "platform/application_catalog.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace orvane {

// Installed and running applications held in memory; records launches and
// quits.
class FakeApplications final : public ApplicationCatalog {
public:
    std::vector<InstalledApp> installed;
    std::vector<QString> dock;
    std::vector<RunningApp> running;
    std::map<QString, QString> defaults; // MIME type to bundle identifier
    std::function<void(const InstalledApp&)> onLaunch;
    std::vector<QString> launched;
    std::vector<std::int32_t> terminated;
    std::vector<std::int32_t> killed;
    std::vector<std::int32_t> session;
    bool launchWorks = true;
    bool killWorks = true;
    std::size_t iconSize = 0; // icons are padded to this many bytes

    std::vector<InstalledApp> installedApps() override { return installed; }
    std::optional<InstalledApp> findApp(const QString& id) override
    {
        for (const auto& app : installed) {
            if (app.bundleID == id)
                return app;
        }
        return std::nullopt;
    }
    std::optional<InstalledApp> defaultAppFor(const QString& mimeType) override
    {
        const auto found = defaults.find(mimeType);
        return found == defaults.end() ? std::nullopt : findApp(found->second);
    }
    std::vector<QString> dockApps() override { return dock; }
    std::vector<RunningApp> runningApps() override { return running; }
    bool launch(const InstalledApp& app) override
    {
        launched.push_back(app.bundleID);
        if (launchWorks && onLaunch)
            onLaunch(app);
        return launchWorks;
    }
    void terminate(std::int32_t pid) override { terminated.push_back(pid); }
    bool forceTerminate(std::int32_t pid) override
    {
        killed.push_back(pid);
        return killWorks;
    }
    std::vector<std::int32_t> sessionProcesses() override { return session; }
    std::optional<QByteArray> iconPng(const QString& id, int pixels) override
    {
        if (!findApp(id))
            return std::nullopt;
        QByteArray png = QByteArray("png:") + id.toUtf8() + ":" + QByteArray::number(pixels);
        if (png.size() < qsizetype(iconSize))
            png.resize(qsizetype(iconSize), ' ');
        return png;
    }
    QString ownBundleID() override { return QStringLiteral("orvane"); }
};

} // namespace orvane

// What an authenticated phone may ask for: commands with their results and
// activity lines, and pointer input.
#include "orvane_server.h"
#include "protocol/overloaded.h"
#include "published.h"

#include "commands/app_matching.h"
#include "commands/labels.h"

#include <QPointer>

namespace orvane {

namespace {

// Media, system and music commands do not count as someone at the desktop:
// they must not wake the display.
bool wakesDisplay(const OrvaneCommand& command)
{
    return !std::holds_alternative<command::Media>(command) &&
           !std::holds_alternative<command::System>(command) &&
           !std::holds_alternative<command::PlayMusic>(command);
}

} // namespace

void OrvaneServer::route(const Uuid& id, const OrvaneMessage& message)
{
    std::visit(Overloaded{
                   [&](const msg::Run& run) { runCommand(id, run); },
                   [&](const msg::Pointer& pointer) { handlePointer(id, pointer.value); },
                   [&](const msg::RequestClipboard&) {
                       if (m_env.commands)
                           sendMessage(msg::Clipboard{{m_env.commands->desktop().clipboardText()}},
                                       id);
                   },
                   [&](const msg::RequestInfo&) {
                       if (m_env.macInfo)
                           sendMessage(msg::Info{{buildMacInfo(false)}}, id);
                   },
                   [&](const msg::RequestApps&) { sendAppCatalog(id); },
                   [&](const msg::RequestIcons& request) { sendIcons(id, request.value); },
                   [&](const msg::RequestWindows&) { sendWindows(id); },
                   [&](const msg::RequestStats&) { sendStats(id); },
                   [](const auto&) {},
               },
               message);
}

void OrvaneServer::sendAppCatalog(const Uuid& id)
{
    if (!m_env.commands)
        return;
    ApplicationCatalog& apps = m_env.commands->applications();
    std::vector<InstalledApp> installed = apps.installedApps();
    sortByName(installed);
    AppCatalogPayload catalog;
    for (const InstalledApp& app : installed)
        catalog.apps.push_back(MacApp{app.bundleID.toStdString(), app.name.toStdString()});
    for (const QString& bundleID : apps.dockApps())
        catalog.dock.push_back(bundleID.toStdString());
    for (const RunningApp& app : apps.runningApps()) {
        if (!app.bundleID.isEmpty())
            catalog.running.push_back(app.bundleID.toStdString());
    }
    sendMessage(msg::AppCatalog{{std::move(catalog)}}, id);
}

ConnectionReplies* OrvaneServer::repliesFor(const Uuid& id)
{
    auto connection = m_connections.find(id);
    if (connection == m_connections.end() || !m_env.commands)
        return nullptr;
    auto [entry, added] = m_replies.try_emplace(id);
    if (added) {
        ApplicationCatalog& apps = m_env.commands->applications();
        entry->second.icons = std::make_shared<ReplyChain>(
            connection->second, [&apps](const std::string& bundleID) -> std::optional<OrvaneMessage> {
                auto png = apps.iconPng(QString::fromStdString(bundleID), 128);
                if (!png)
                    return std::nullopt; // no such application: skipped
                return msg::AppIcon{bundleID, Bytes(png->begin(), png->end())};
            });
        WindowCommands& windows = m_env.commands->windows();
        entry->second.thumbnails = std::make_shared<ReplyChain>(
            connection->second, [&windows](const std::string& key) -> std::optional<OrvaneMessage> {
                auto windowID = static_cast<std::uint32_t>(std::stoul(key));
                auto jpeg = windows.captureThumbnail(windowID);
                if (!jpeg)
                    return std::nullopt;
                return msg::WindowThumbnail{windowID, Bytes(jpeg->begin(), jpeg->end())};
            });
    }
    return &entry->second;
}

void OrvaneServer::sendIcons(const Uuid& id, std::vector<std::string> bundleIDs)
{
    // A phone that asks for more than a launcher can show gets the first ones.
    constexpr std::size_t maximumIcons = 500;
    if (bundleIDs.size() > maximumIcons)
        bundleIDs.resize(maximumIcons);
    if (ConnectionReplies* replies = repliesFor(id))
        replies->icons->add(bundleIDs);
}

void OrvaneServer::sendWindows(const Uuid& id)
{
    ConnectionReplies* replies = repliesFor(id);
    if (!replies)
        return;
    std::vector<MacWindow> windows = m_env.commands->windows().listWindows();
    sendMessage(msg::Windows{{windows}}, id);
    std::vector<std::string> keys;
    for (const MacWindow& window : windows)
        keys.push_back(std::to_string(window.id));
    replies->thumbnails->add(keys);
}

void OrvaneServer::sendStats(const Uuid& id)
{
    if (m_env.stats)
        sendMessage(msg::Stats{{m_env.stats->stats()}}, id);
}

void OrvaneServer::runCommand(const Uuid& id, const msg::Run& run)
{
    CommandDispatcher* commands = m_env.commands;
    if (!commands)
        return;
    if (wakesDisplay(run.command))
        commands->declareUserActivity();
    const bool logged = !std::holds_alternative<command::TypeText>(run.command);
    QString label = commandLabel(run.command);
    QPointer<OrvaneServer> self(this);
    commands->execute(run.command, id,
                      [self, id, requestID = run.id, label, logged](CommandResult result) {
                          if (!self)
                              return;
                          self->setLastCommand(label);
                          // Typed text stays out of the log: it may be a password.
                          if (logged)
                              self->addActivity(result.message, self->deviceName(id),
                                                result.success);
                          self->sendMessage(
                              msg::Result{requestID, result.success, result.message.toStdString()},
                              id);
                      });
    // Players and the mixer take a moment to show the change.
    if (std::holds_alternative<command::Media>(run.command) ||
        std::holds_alternative<command::System>(run.command) ||
        std::holds_alternative<command::PlayMusic>(run.command))
        QTimer::singleShot(nowPlayingRefreshMs, this, [self] {
            if (self)
                self->nowPlayingPoll();
        });
}

void OrvaneServer::handlePointer(const Uuid&, const PointerEvent& event)
{
    CommandDispatcher* commands = m_env.commands;
    if (!commands || !commands->accessibilityGranted())
        return;
    commands->declareUserActivity();
    commands->postPointerEvent(event, m_selectedDisplay);
}

QString OrvaneServer::deviceName(const Uuid& id) const
{
    for (const auto& device : m_devices) {
        if (device.id == id)
            return device.name;
    }
    return {};
}

} // namespace orvane

#include "router.h"

#include "connection_hub.h"
#include "received_files.h"
#include "safe_text.h"
#include "screen_share_sessions.h"
#include "update_publisher.h"

#include "commands/labels.h"
#include "protocol/overloaded.h"

#include <QPointer>

namespace orvane {

namespace {

// Media, system and music commands do not count as someone at the desktop:
// they must not wake the display. They change what the phone shows of the
// player and the system, which is read again a moment later.
bool isRemoteControl(const OrvaneCommand& command)
{
    return std::holds_alternative<command::Media>(command) ||
           std::holds_alternative<command::System>(command) ||
           std::holds_alternative<command::PlayMusic>(command);
}

} // namespace

Router::Router(ConnectionHub& hub, CommandDispatcher& commands, PhoneQueries& queries, Input input,
               UpdatePublisher& updates, ScreenShareSessions& screen, QString receivedFilesFolder,
               std::optional<std::int64_t> freeSpaceFloor)
    : m_hub(hub), m_commands(commands), m_queries(queries), m_input(std::move(input)),
      m_updates(updates), m_screen(screen), m_receivedFilesFolder(std::move(receivedFilesFolder)),
      m_freeSpaceFloor(freeSpaceFloor)
{
    // A command still running for a connection that left answers no one.
    connect(&hub, &ConnectionHub::connectionClosed, this,
            [this](const Uuid& id) { m_commands.cancel(id); });
}

void Router::route(const Uuid& id, const OrvaneMessage& message)
{
    std::visit(Overloaded{
                   [&](const msg::Run& run) { runCommand(id, run); },
                   [&](const msg::Pointer& pointer) { handlePointer(pointer.value); },
                   [&](const msg::RequestClipboard&) {
                       m_hub.sendMessage(msg::Clipboard{{m_queries.clipboard()}}, id);
                   },
                   [&](const msg::RequestInfo&) {
                       m_hub.sendMessage(
                           msg::Info{{m_queries.macInfo(m_hub.computerName(), false)}}, id);
                   },
                   [&](const msg::RequestApps&) {
                       m_hub.sendMessage(msg::AppCatalog{{m_queries.appCatalog()}}, id);
                   },
                   [&](const msg::RequestIcons& request) { sendIcons(id, request.value); },
                   [&](const msg::RequestWindows&) { sendWindows(id); },
                   [&](const msg::RequestStats&) {
                       m_hub.sendMessage(msg::Stats{{m_queries.stats()}}, id);
                   },
                   [&](const msg::StartScreenShare& start) { m_screen.start(id, start.value); },
                   [&](const msg::StopScreenShare&) { m_screen.stop(id); },
                   [&](const msg::SelectDisplay& select) { m_screen.selectDisplay(select.value); },
                   [](const auto&) {},
               },
               message);
}

ConnectionReplies* Router::repliesFor(const Uuid& id)
{
    PhoneSession* session = m_hub.session(id);
    if (!session)
        return nullptr;
    ConnectionReplies& replies = session->replies;
    if (!replies.icons) {
        PhoneQueries& queries = m_queries;
        const std::weak_ptr<FramedConnection> connection = session->sharedConnection();
        replies.icons = std::make_shared<ReplyChain>(
            connection, [&queries](const std::string& bundleID) -> std::optional<OrvaneMessage> {
                auto png = queries.icon(bundleID);
                if (!png)
                    return std::nullopt; // no such application: skipped
                return msg::AppIcon{bundleID, std::move(*png)};
            });
        replies.thumbnails = std::make_shared<ReplyChain>(
            connection, [&queries](const std::string& key) -> std::optional<OrvaneMessage> {
                auto windowID = static_cast<std::uint32_t>(std::stoul(key));
                auto jpeg = queries.thumbnail(windowID);
                if (!jpeg)
                    return std::nullopt;
                return msg::WindowThumbnail{windowID, std::move(*jpeg)};
            });
    }
    return &replies;
}

void Router::sendIcons(const Uuid& id, std::vector<std::string> bundleIDs)
{
    // A phone that asks for more than a launcher can show gets the first ones.
    constexpr std::size_t maximumIcons = 500;
    if (bundleIDs.size() > maximumIcons)
        bundleIDs.resize(maximumIcons);
    if (ConnectionReplies* replies = repliesFor(id))
        replies->icons->add(bundleIDs);
}

void Router::sendWindows(const Uuid& id)
{
    ConnectionReplies* replies = repliesFor(id);
    if (!replies)
        return;
    std::vector<MacWindow> windows = m_queries.windows();
    m_hub.sendMessage(msg::Windows{{windows}}, id);
    std::vector<std::string> keys;
    for (const MacWindow& window : windows)
        keys.push_back(std::to_string(window.id));
    replies->thumbnails->add(keys);
}

void Router::runCommand(const Uuid& id, const msg::Run& run)
{
    const bool remoteControl = isRemoteControl(run.command);
    if (!remoteControl)
        m_input.userActivity.declare();
    // Typed text stays out of the log: it may be a password.
    const bool logged = !std::holds_alternative<command::TypeText>(run.command);
    // Shown in the window: a phone's text, so cut to what fits there.
    QString label = shownText(commandLabel(run.command));
    QPointer<Router> self(this);
    m_commands.execute(
        run.command, id, [self, id, requestID = run.id, label, logged](CommandResult result) {
            if (!self)
                return;
            if (self->m_lastCommand != label) {
                self->m_lastCommand = label;
                Q_EMIT self->lastCommandChanged();
            }
            if (logged)
                self->m_hub.addActivity(result.message, self->m_hub.deviceName(id), result.success);
            self->m_hub.sendMessage(
                msg::Result{requestID, result.success, result.message.toStdString()}, id);
        });
    // Players and the mixer take a moment to show the change.
    if (remoteControl)
        m_updates.refreshSoon();
}

void Router::handlePointer(const PointerEvent& event)
{
    if (!m_input.pointer.available())
        return; // dropped silently without the permission
    m_input.userActivity.declare();
    m_input.pointer.post(event, m_screen.selectedDisplay());
}

void Router::saveReceivedFile(const Uuid& id, const ReceivedFile& file)
{
    if (!m_hub.isAuthenticated(id))
        return; // only authenticated phones may drop files
    QString clean = cleanReceivedFileName(QString::fromStdString(file.name), tr("File"));
    const ByteView contents = file.contents();
    std::optional<QString> saved;
    if (!m_receivedFilesFolder.isEmpty() &&
        leavesFreeSpace(m_receivedFilesFolder, static_cast<std::int64_t>(contents.size()),
                        m_freeSpaceFloor))
        saved = writeNewFile(m_receivedFilesFolder, clean, contents);
    if (!saved) {
        m_hub.sendMessage(
            msg::Result{file.transferID, false, tr("Couldn't save file").toStdString()}, id);
        return;
    }
    m_hub.addActivity(tr("Received ") + *saved, m_hub.deviceName(id), true);
    m_hub.sendMessage(
        msg::Result{file.transferID, true, tr("Saved to Downloads › Orvane").toStdString()}, id);
}

} // namespace orvane

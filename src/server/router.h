#pragma once

#include "phone_session.h"

#include "commands/dispatcher.h"
#include "commands/phone_queries.h"
#include "commands/pointer_driver.h"
#include "commands/user_activity.h"
#include "protocol/dispatch.h"

#include <QObject>

#include <functional>
#include <optional>

namespace orvane {

class ConnectionHub;
class ScreenShareSessions;
class UpdatePublisher;

// What an authenticated phone may ask: commands with their results and
// activity lines, pointer input, the information requests, and files.
class Router : public QObject {
    Q_OBJECT
public:
    struct Input {
        PointerDriver& pointer;
        UserActivity& userActivity;
    };

    Router(ConnectionHub& hub, CommandDispatcher& commands, PhoneQueries& queries, Input input,
           UpdatePublisher& updates, ScreenShareSessions& screen, QString receivedFilesFolder,
           std::optional<std::int64_t> freeSpaceFloor);

    void route(const Uuid& id, const OrvaneMessage& message);
    void saveReceivedFile(const Uuid& id, const ReceivedFile& file);

    const QString& lastCommand() const { return m_lastCommand; }

Q_SIGNALS:
    void lastCommandChanged();

private:
    void runCommand(const Uuid& id, const msg::Run& run);
    void handlePointer(const PointerEvent& event);
    ConnectionReplies* repliesFor(const Uuid& id);
    void sendIcons(const Uuid& id, std::vector<std::string> bundleIDs);
    void sendWindows(const Uuid& id);

    ConnectionHub& m_hub;
    CommandDispatcher& m_commands;
    PhoneQueries& m_queries;
    Input m_input;
    UpdatePublisher& m_updates;
    ScreenShareSessions& m_screen;
    QString m_receivedFilesFolder;
    std::optional<std::int64_t> m_freeSpaceFloor;
    QString m_lastCommand;
};

} // namespace orvane

#include "mpris_players.h"

#include "mpris_values.h"
#include "session_bus.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace orvane {

namespace {

const QString namePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString playlistsInterface = QStringLiteral("org.mpris.MediaPlayer2.Playlists");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Commands run on the server's main thread and block it until the player
// answers; a second is plenty for a healthy player and bounds a hung one.
constexpr int callTimeoutMs = 1000;

// How many playlists a search looks at; a library with more is rare, and the
// reply stays small.
constexpr uint playlistLimit = 1000;

QDBusMessage callBlocking(const QDBusMessage& message)
{
    return sessionBus().call(message, QDBus::Block, callTimeoutMs);
}

QString methodOf(PlaybackCommand command)
{
    switch (command) {
    case PlaybackCommand::play:
        return QStringLiteral("Play");
    case PlaybackCommand::pause:
        return QStringLiteral("Pause");
    case PlaybackCommand::playPause:
        return QStringLiteral("PlayPause");
    case PlaybackCommand::next:
        return QStringLiteral("Next");
    case PlaybackCommand::previous:
        return QStringLiteral("Previous");
    }
    return {};
}

class MprisPlayers final : public MediaPlayers {
public:
    QStringList runningPlayers() override
    {
        auto message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
        const QDBusMessage reply = callBlocking(message);
        QStringList players;
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return players;
        // Only names with an owner are listed, so a listed player is running.
        for (const QString& name : reply.arguments().constFirst().toStringList()) {
            if (name.startsWith(namePrefix) && name.size() > namePrefix.size())
                players.append(name.mid(namePrefix.size()));
        }
        players.sort();
        return players;
    }

    PlayerReply<PlayerState> state(const QString& player) override
    {
        const QDBusMessage reply =
            call(player, propertiesInterface, QStringLiteral("GetAll"), {playerInterface});
        PlayerReply<PlayerState> result{mpris::outcomeOf(reply), {}};
        if (result.outcome == PlayerOutcome::ok && !reply.arguments().isEmpty())
            result.value = mpris::decodePlayerState(reply.arguments().constFirst());
        return result;
    }

    PlayerOutcome transport(const QString& player, PlaybackCommand command) override
    {
        return outcome(player, playerInterface, methodOf(command), {});
    }

    PlayerOutcome setVolume(const QString& player, double volume) override
    {
        return setProperty(player, QStringLiteral("Volume"), volume);
    }

    PlayerOutcome setShuffle(const QString& player, bool on) override
    {
        return setProperty(player, QStringLiteral("Shuffle"), on);
    }

    PlayerOutcome setPosition(const QString& player, const QString& trackId,
                              std::int64_t positionUs) override
    {
        if (!mpris::isObjectPath(trackId))
            return PlayerOutcome::failed;
        return outcome(player, playerInterface, QStringLiteral("SetPosition"),
                       {QVariant::fromValue(QDBusObjectPath(trackId)), qlonglong(positionUs)});
    }

    PlayerOutcome seekBy(const QString& player, std::int64_t offsetUs) override
    {
        return outcome(player, playerInterface, QStringLiteral("Seek"), {qlonglong(offsetUs)});
    }

    PlayerOutcome openUri(const QString& player, const QString& uri) override
    {
        return outcome(player, playerInterface, QStringLiteral("OpenUri"), {uri});
    }

    PlayerReply<std::vector<PlayerPlaylist>> playlists(const QString& player) override
    {
        const QDBusMessage reply =
            call(player, playlistsInterface, QStringLiteral("GetPlaylists"),
                 {uint(0), playlistLimit, QStringLiteral("Alphabetical"), false});
        PlayerReply<std::vector<PlayerPlaylist>> result{mpris::outcomeOf(reply), {}};
        if (result.outcome == PlayerOutcome::ok && !reply.arguments().isEmpty())
            result.value = mpris::decodePlaylists(reply.arguments().constFirst());
        return result;
    }

    PlayerOutcome activatePlaylist(const QString& player, const QString& id) override
    {
        if (!mpris::isObjectPath(id))
            return PlayerOutcome::failed;
        return outcome(player, playlistsInterface, QStringLiteral("ActivatePlaylist"),
                       {QVariant::fromValue(QDBusObjectPath(id))});
    }

private:
    static QDBusMessage call(const QString& player, const QString& interface, const QString& method,
                             const QVariantList& arguments)
    {
        auto message =
            QDBusMessage::createMethodCall(namePrefix + player, objectPath, interface, method);
        message.setArguments(arguments);
        return callBlocking(message);
    }

    static PlayerOutcome outcome(const QString& player, const QString& interface,
                                 const QString& method, const QVariantList& arguments)
    {
        return mpris::outcomeOf(call(player, interface, method, arguments));
    }

    static PlayerOutcome setProperty(const QString& player, const QString& name,
                                     const QVariant& value)
    {
        return outcome(player, propertiesInterface, QStringLiteral("Set"),
                       {playerInterface, name, QVariant::fromValue(QDBusVariant(value))});
    }
};

} // namespace

std::unique_ptr<MediaPlayers> makeMprisPlayers()
{
    return std::make_unique<MprisPlayers>();
}

} // namespace orvane

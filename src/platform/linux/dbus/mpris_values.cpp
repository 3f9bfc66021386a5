#include "mpris_values.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane::mpris {

namespace {

const QString noTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

template <class T> bool holds(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<T>();
}

// Nested dictionaries arrive still marshalled; anything but a{sv} is
// rejected before reading, since demarshalling the wrong shape makes libdbus
// complain and read nothing useful.
QVariantMap mapOf(const QVariant& value)
{
    if (holds<QVariantMap>(value))
        return value.toMap();
    if (!holds<QDBusArgument>(value))
        return {};
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a{sv}"))
        return {};
    return qdbus_cast<QVariantMap>(argument);
}

QString textOf(const QVariant& value)
{
    return holds<QString>(value) ? value.toString() : QString();
}

QStringList textsOf(const QVariant& value)
{
    if (holds<QStringList>(value))
        return value.toStringList();
    const QString single = textOf(value);
    return single.isEmpty() ? QStringList() : QStringList{single};
}

std::int64_t saturated(double value)
{
    if (!std::isfinite(value))
        return 0;
    constexpr double limit = 9.2e18; // inside the int64 range
    return static_cast<std::int64_t>(std::clamp(value, -limit, limit));
}

std::int64_t microsecondsOf(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
        return value.toLongLong();
    case QMetaType::ULongLong: {
        const qulonglong wide = value.toULongLong();
        constexpr auto max = static_cast<qulonglong>(std::numeric_limits<std::int64_t>::max());
        return static_cast<std::int64_t>(std::min(wide, max));
    }
    case QMetaType::Double:
        return saturated(value.toDouble());
    default:
        return 0;
    }
}

std::optional<double> volumeOf(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
        break;
    default:
        return std::nullopt;
    }
    const double volume = value.toDouble();
    if (!std::isfinite(volume))
        return std::nullopt;
    return volume;
}

QString trackIdOf(const QVariant& value)
{
    const QString path =
        holds<QDBusObjectPath>(value) ? value.value<QDBusObjectPath>().path() : textOf(value);
    // Some players name tracks with their own URIs; those cannot be handed
    // back to SetPosition, so they count as no id at all.
    if (path == noTrack || !isObjectPath(path))
        return {};
    return path;
}

} // namespace

PlayerOutcome outcomeOf(const QDBusMessage& reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage)
        return PlayerOutcome::ok;
    if (reply.type() != QDBusMessage::ErrorMessage)
        return PlayerOutcome::failed;
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.AccessDenied"))
        return PlayerOutcome::refused;
    static const QLatin1String missing[] = {
        QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"),
        QLatin1String("org.freedesktop.DBus.Error.UnknownInterface"),
        QLatin1String("org.freedesktop.DBus.Error.UnknownObject"),
        QLatin1String("org.freedesktop.DBus.Error.UnknownProperty"),
        QLatin1String("org.freedesktop.DBus.Error.NotSupported"),
    };
    for (const auto& candidate : missing) {
        if (name == candidate)
            return PlayerOutcome::unsupported;
    }
    return PlayerOutcome::failed;
}

PlayerState decodePlayerState(const QVariant& properties)
{
    const QVariantMap all = mapOf(properties);
    const QVariantMap metadata = mapOf(all.value(QStringLiteral("Metadata")));
    PlayerState state;
    state.trackId = trackIdOf(metadata.value(QStringLiteral("mpris:trackid")));
    state.title = textOf(metadata.value(QStringLiteral("xesam:title")));
    state.artists = textsOf(metadata.value(QStringLiteral("xesam:artist")));
    state.album = textOf(metadata.value(QStringLiteral("xesam:album")));
    state.lengthUs = microsecondsOf(metadata.value(QStringLiteral("mpris:length")));
    state.artUrl = textOf(metadata.value(QStringLiteral("mpris:artUrl")));
    state.playbackStatus = textOf(all.value(QStringLiteral("PlaybackStatus")));
    state.positionUs = microsecondsOf(all.value(QStringLiteral("Position")));
    state.volume = volumeOf(all.value(QStringLiteral("Volume")));
    const QVariant shuffle = all.value(QStringLiteral("Shuffle"));
    if (holds<bool>(shuffle))
        state.shuffle = shuffle.toBool();
    return state;
}

std::vector<PlayerPlaylist> decodePlaylists(const QVariant& playlists)
{
    std::vector<PlayerPlaylist> result;
    if (!holds<QDBusArgument>(playlists))
        return result;
    const auto argument = playlists.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(oss)"))
        return result;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusObjectPath id;
        QString name;
        QString icon;
        argument.beginStructure();
        argument >> id >> name >> icon;
        argument.endStructure();
        result.push_back({id.path(), name});
    }
    argument.endArray();
    return result;
}

bool isObjectPath(const QString& path)
{
    if (path == QLatin1String("/"))
        return true;
    if (!path.startsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('/')))
        return false;
    QChar previous;
    for (const QChar c : path) {
        const bool slash = c == QLatin1Char('/');
        if (slash && previous == QLatin1Char('/'))
            return false;
        const bool word = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_');
        if (!slash && !word)
            return false;
        previous = c;
    }
    return true;
}

} // namespace orvane::mpris

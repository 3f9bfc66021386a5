// A scriptable MPRIS player for the integration tests. It owns
// org.mpris.MediaPlayer2.NAME on the session bus, plays one fixed track, and
// writes the last call it received to LOG as one line: "Next",
// "Set org.mpris.MediaPlayer2.Player Volume 0.5", "Seek -15000000".
//
//   fake_mpris_player NAME LOG [--status S] [--playlists "A;B"] [--no-track]
//                     [--no-trackid] [--no-playlists] [--hang] [--deny]
//
// --no-playlists leaves out the Playlists interface, --hang never answers,
// --deny answers everything with AccessDenied. Prints "ready" once the name
// is owned.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>

#include <cstdio>

namespace {

struct Playlist {
    QDBusObjectPath id;
    QString name;
    QString icon;
};

QDBusArgument& operator<<(QDBusArgument& out, const Playlist& list)
{
    out.beginStructure();
    out << list.id << list.name << list.icon;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Playlist& list)
{
    in.beginStructure();
    in >> list.id >> list.name >> list.icon;
    in.endStructure();
    return in;
}

} // namespace

Q_DECLARE_METATYPE(Playlist)

namespace {

const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

QString text(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return text(value.value<QDBusVariant>().variant());
    if (value.metaType() == QMetaType::fromType<double>())
        return QString::number(value.toDouble(), 'g', 12);
    return value.toString();
}

// QDBusVirtualObject without Q_OBJECT needs no moc, and it sees every
// message whatever its interface.
class FakePlayer final : public QDBusVirtualObject {
public:
    explicit FakePlayer(QStringList args) : m_args(std::move(args)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override
    {
        QStringList words{message.member()};
        for (const QVariant& argument : message.arguments())
            words << text(argument);
        // Written and closed before the reply goes out, so a caller that
        // reads the log after its answer always finds this call.
        {
            QFile log(m_args.value(1));
            if (log.open(QIODevice::WriteOnly | QIODevice::Truncate))
                log.write((words.join(QLatin1Char(' ')) + QLatin1Char('\n')).toUtf8());
        }
        if (has("--hang"))
            return true; // the caller waits for an answer that never comes
        bus.send(has("--deny") ? error(message, "AccessDenied") : answer(message));
        return true;
    }

private:
    bool has(const char* flag) const { return m_args.contains(QLatin1String(flag)); }
    QString option(const char* name) const
    {
        const qsizetype at = m_args.indexOf(QLatin1String(name));
        return at < 0 ? QString() : m_args.value(at + 1);
    }
    static QDBusMessage error(const QDBusMessage& message, const char* name)
    {
        return message.createErrorReply(
            QStringLiteral("org.freedesktop.DBus.Error.") + QLatin1String(name), message.member());
    }

    QDBusMessage answer(const QDBusMessage& message)
    {
        const QString interface = message.interface(), member = message.member();
        const QVariantList args = message.arguments();
        if (interface == QLatin1String("org.freedesktop.DBus.Properties") &&
            args.value(0).toString() == playerInterface) {
            if (member == QLatin1String("GetAll"))
                return message.createReply(QVariant(properties()));
            const QVariant value = args.value(2).value<QDBusVariant>().variant();
            if (member == QLatin1String("Set") &&
                args.value(1).toString() == QLatin1String("Volume"))
                m_volume = value.toDouble();
            else if (member == QLatin1String("Set") &&
                     args.value(1).toString() == QLatin1String("Shuffle"))
                m_shuffle = value.toBool();
            else
                return error(message, "UnknownMethod");
            return message.createReply();
        }
        if (interface == playerInterface) {
            if (member == QLatin1String("Play") || member == QLatin1String("Pause"))
                m_status = member == QLatin1String("Play") ? "Playing" : "Paused";
            return message.createReply();
        }
        if (interface == QLatin1String("org.mpris.MediaPlayer2.Playlists") &&
            !has("--no-playlists")) {
            if (member != QLatin1String("GetPlaylists"))
                return message.createReply(); // ActivatePlaylist
            QList<Playlist> lists;
            for (const QString& name : option("--playlists").split(';', Qt::SkipEmptyParts))
                lists.append(
                    {QDBusObjectPath(QStringLiteral("/org/orvane/playlist/%1").arg(lists.size())),
                     name, QString()});
            return message.createReply(QVariant::fromValue(lists));
        }
        return error(message, "UnknownMethod");
    }

    QVariantMap properties() const
    {
        const QString name = m_args.value(0);
        QVariantMap metadata;
        if (!has("--no-trackid"))
            metadata[QStringLiteral("mpris:trackid")] =
                QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/orvane/track/1")));
        metadata[QStringLiteral("xesam:title")] = name + QStringLiteral(" song");
        metadata[QStringLiteral("xesam:artist")] =
            QStringList{name + QStringLiteral(" artist"), QStringLiteral("Guest")};
        metadata[QStringLiteral("xesam:album")] = name + QStringLiteral(" album");
        metadata[QStringLiteral("mpris:length")] = qlonglong(215000000);
        metadata[QStringLiteral("mpris:artUrl")] =
            QStringLiteral("https://example.com/%1.jpg").arg(name);
        return {{QStringLiteral("Metadata"), has("--no-track") ? QVariantMap() : metadata},
                {QStringLiteral("PlaybackStatus"), m_status},
                {QStringLiteral("Position"), qlonglong(12500000)},
                {QStringLiteral("Volume"), m_volume},
                {QStringLiteral("Shuffle"), m_shuffle}};
    }

    const QStringList m_args;
    QString m_status = has("--status") ? option("--status") : QStringLiteral("Paused");
    double m_volume = 0.4;
    bool m_shuffle = false;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<Playlist>();
    qDBusRegisterMetaType<QList<Playlist>>();
    const QStringList args = app.arguments().mid(1);
    QDBusConnection bus = QDBusConnection::sessionBus();
    FakePlayer player(args);
    if (args.size() < 2 ||
        !bus.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), &player) ||
        !bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + args[0])) {
        std::fprintf(stderr, "fake_mpris_player: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

// A scriptable MPRIS player for the integration tests. It owns
// org.mpris.MediaPlayer2.NAME on the session bus, plays one fixed track, and
// appends every call it receives to the --log file, one line each:
// "Next", "Set Volume 0.5", "SetPosition /org/orvane/track/1 30000000".
//
//   --name NAME           bus name suffix (required)
//   --log FILE            where calls are recorded
//   --status S            PlaybackStatus (default Paused)
//   --no-track            empty Metadata
//   --no-trackid          Metadata without mpris:trackid
//   --playlists "A;B"     playlists, with ids /org/orvane/playlist/0, 1, ...
//   --no-playlists        no Playlists interface at all
//   --hang                record calls but never answer them
//   --deny                answer every call with AccessDenied
//
// Prints "ready" once the name is owned.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTextStream>

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
const QString playlistsInterface = QStringLiteral("org.mpris.MediaPlayer2.Playlists");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString trackPath = QStringLiteral("/org/orvane/track/1");

struct Options {
    QString name;
    QString log;
    QString status = QStringLiteral("Paused");
    bool track = true;
    bool trackId = true;
    QStringList playlists;
    bool playlistsInterface = true;
    bool hang = false;
    bool deny = false;
};

// QDBusVirtualObject without Q_OBJECT: it adds no signals or slots, so it
// needs no moc, and it sees every message whatever its interface.
class FakePlayer final : public QDBusVirtualObject {
public:
    explicit FakePlayer(Options options) : m_options(std::move(options)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        record(message);
        if (m_options.hang)
            return true; // the caller waits for an answer that never comes
        if (m_options.deny) {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"), QStringLiteral("no")));
            return true;
        }
        connection.send(answer(message));
        return true;
    }

private:
    QDBusMessage answer(const QDBusMessage& message)
    {
        const QString interface = message.interface();
        if (interface == propertiesInterface)
            return properties(message);
        if (interface == playerInterface)
            return player(message);
        if (interface == playlistsInterface && m_options.playlistsInterface)
            return playlists(message);
        return unknown(message);
    }

    QDBusMessage properties(const QDBusMessage& message)
    {
        const QVariantList args = message.arguments();
        const QString member = message.member();
        if (member == QLatin1String("GetAll") && args.value(0).toString() == playerInterface)
            return message.createReply(QVariant(playerProperties()));
        if (member == QLatin1String("Get") && args.value(0).toString() == playerInterface) {
            const QVariant value = playerProperties().value(args.value(1).toString());
            if (value.isValid())
                return message.createReply(QVariant::fromValue(QDBusVariant(value)));
        }
        if (member == QLatin1String("Set") && args.size() == 3)
            return set(message, args.at(1).toString(), args.at(2).value<QDBusVariant>().variant());
        return unknown(message);
    }

    QDBusMessage set(const QDBusMessage& message, const QString& name, const QVariant& value)
    {
        if (name == QLatin1String("Volume"))
            m_volume = value.toDouble();
        else if (name == QLatin1String("Shuffle"))
            m_shuffle = value.toBool();
        else
            return unknown(message);
        return message.createReply();
    }

    QDBusMessage player(const QDBusMessage& message)
    {
        static const QStringList methods = {
            QStringLiteral("Play"),        QStringLiteral("Pause"),    QStringLiteral("PlayPause"),
            QStringLiteral("Next"),        QStringLiteral("Previous"), QStringLiteral("Seek"),
            QStringLiteral("SetPosition"), QStringLiteral("OpenUri"),
        };
        if (!methods.contains(message.member()))
            return unknown(message);
        if (message.member() == QLatin1String("Play"))
            m_options.status = QStringLiteral("Playing");
        if (message.member() == QLatin1String("Pause"))
            m_options.status = QStringLiteral("Paused");
        return message.createReply();
    }

    QDBusMessage playlists(const QDBusMessage& message)
    {
        if (message.member() == QLatin1String("ActivatePlaylist"))
            return message.createReply();
        if (message.member() != QLatin1String("GetPlaylists"))
            return unknown(message);
        QList<Playlist> lists;
        for (int i = 0; i < m_options.playlists.size(); ++i) {
            const QString id = QStringLiteral("/org/orvane/playlist/%1").arg(i);
            lists.append({QDBusObjectPath(id), m_options.playlists.at(i), QString()});
        }
        return message.createReply(QVariant::fromValue(lists));
    }

    static QDBusMessage unknown(const QDBusMessage& message)
    {
        return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                        message.interface() + QLatin1Char('.') + message.member());
    }

    QVariantMap playerProperties() const
    {
        QVariantMap metadata;
        if (m_options.track) {
            const QString name = m_options.name;
            if (m_options.trackId)
                metadata[QStringLiteral("mpris:trackid")] =
                    QVariant::fromValue(QDBusObjectPath(trackPath));
            metadata[QStringLiteral("xesam:title")] = name + QStringLiteral(" song");
            metadata[QStringLiteral("xesam:artist")] =
                QStringList{name + QStringLiteral(" artist"), QStringLiteral("Guest")};
            metadata[QStringLiteral("xesam:album")] = name + QStringLiteral(" album");
            metadata[QStringLiteral("mpris:length")] = qlonglong(215000000);
            metadata[QStringLiteral("mpris:artUrl")] =
                QStringLiteral("https://example.com/%1.jpg").arg(name);
        }
        return {
            {QStringLiteral("Metadata"), metadata},
            {QStringLiteral("PlaybackStatus"), m_options.status},
            {QStringLiteral("Position"), qlonglong(12500000)},
            {QStringLiteral("Volume"), m_volume},
            {QStringLiteral("Shuffle"), m_shuffle},
        };
    }

    void record(const QDBusMessage& message)
    {
        QStringList words{message.member()};
        for (const QVariant& argument : message.arguments())
            words.append(text(argument));
        QFile file(m_options.log);
        if (m_options.log.isEmpty() || !file.open(QIODevice::Append | QIODevice::Text))
            return;
        file.write((words.join(QLatin1Char(' ')) + QLatin1Char('\n')).toUtf8());
    }

    static QString text(const QVariant& value)
    {
        if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
            return value.value<QDBusObjectPath>().path();
        if (value.metaType() == QMetaType::fromType<QDBusVariant>())
            return text(value.value<QDBusVariant>().variant());
        if (value.metaType() == QMetaType::fromType<double>())
            return QString::number(value.toDouble(), 'g', 12);
        return value.toString();
    }

    Options m_options;
    double m_volume = 0.4;
    bool m_shuffle = false;
};

Options parse(const QCoreApplication& app)
{
    QCommandLineParser parser;
    const QStringList valued = {QStringLiteral("name"), QStringLiteral("log"),
                                QStringLiteral("status"), QStringLiteral("playlists")};
    for (const QString& name : valued)
        parser.addOption({name, name, name});
    for (const char* flag : {"no-track", "no-trackid", "no-playlists", "hang", "deny"})
        parser.addOption({QString::fromLatin1(flag), QString::fromLatin1(flag)});
    parser.process(app);
    Options options;
    options.name = parser.value(QStringLiteral("name"));
    options.log = parser.value(QStringLiteral("log"));
    if (parser.isSet(QStringLiteral("status")))
        options.status = parser.value(QStringLiteral("status"));
    options.track = !parser.isSet(QStringLiteral("no-track"));
    options.trackId = !parser.isSet(QStringLiteral("no-trackid"));
    options.playlists =
        parser.value(QStringLiteral("playlists")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    options.playlistsInterface = !parser.isSet(QStringLiteral("no-playlists"));
    options.hang = parser.isSet(QStringLiteral("hang"));
    options.deny = parser.isSet(QStringLiteral("deny"));
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<Playlist>();
    qDBusRegisterMetaType<QList<Playlist>>();
    const Options options = parse(app);
    if (options.name.isEmpty()) {
        std::fprintf(stderr, "fake_mpris_player: --name is required\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    FakePlayer player(options);
    if (!bus.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), &player) ||
        !bus.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + options.name)) {
        std::fprintf(stderr, "fake_mpris_player: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

// Stand-ins for the desktop services that the system and media controls
// call, run as children of the tests on the private buses:
//
//   fake_dbus_services logind [--no-session-for-pid] [--deny]
//   fake_dbus_services portal SCHEME [--device-types N]
//   fake_dbus_services mutter
//   fake_dbus_services notifications
//   fake_dbus_services screensaver [--deny]
//   fake_dbus_services NAME [--status S] [--playlists "A;B"] [--no-track]
//                      [--no-trackid] [--no-playlists] [--hang] [--deny]
//
// Any other first word names an MPRIS player (words after it that are no
// option are ignored). --deny answers every call with AccessDenied, --hang
// never answers. Prints "ready" once the service name is owned, then one line
// per call: the method, the object path when it is not the service's own, and
// the arguments, e.g. "SetBrightness /org/freedesktop/login1/session/auto
// backlight acpi_video0 115" or "Set org.mpris.MediaPlayer2.Player Volume
// 0.5". The logind inhibitor is one end of a pipe; "inhibitor released" is
// printed when the caller has closed every copy. The notification server
// prints "notified ID" for each notification it shows; lines on standard
// input make the services speak: "scheme N" has the portal announce a new
// colour scheme, "invoke ID ACTION" has the notification server report that
// the user chose an action.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QStringList>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

struct Playlist {
    QDBusObjectPath id;
    QString name, icon;
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

using Answer = std::function<QDBusMessage(const QDBusMessage&)>;

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString text(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return text(value.value<QDBusVariant>().variant());
    if (value.metaType() == QMetaType::fromType<double>())
        return QString::number(value.toDouble(), 'g', 12);
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return value.toStringList().join('|');
    return value.toString();
}

QDBusMessage error(const QDBusMessage& message, const char* name)
{
    return message.createErrorReply(QLatin1String(name), "refused by the test");
}

// Prints each call it receives, then answers it (QDBusVirtualObject needs no
// moc, and it sees every message whatever its interface).
class Service final : public QDBusVirtualObject {
public:
    Service(QString path, Answer answer) : m_path(std::move(path)), m_answer(std::move(answer)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override
    {
        QStringList words{message.member()};
        if (message.path() != m_path)
            words << message.path();
        for (const QVariant& argument : message.arguments())
            words << text(argument);
        // Out before the reply, so a caller that reads the lines after its
        // answer always finds this call.
        say(words.join(' '));
        if (m_answer)
            bus.send(m_answer(message));
        return true;
    }

private:
    QString m_path;
    Answer m_answer; // none: the caller waits for an answer that never comes
};

// One end of a pipe: the hold lasts until every copy of it is closed.
QDBusUnixFileDescriptor newInhibitor()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return {};
    QDBusUnixFileDescriptor given(ends[1]); // a copy travels with the reply
    ::close(ends[1]);
    auto* watch = new QSocketNotifier(ends[0], QSocketNotifier::Read);
    QObject::connect(watch, &QSocketNotifier::activated, [watch, fd = ends[0]] {
        char byte;
        if (::read(fd, &byte, 1) <= 0) {
            say("inhibitor released");
            watch->setEnabled(false);
            watch->deleteLater();
            ::close(fd);
        }
    });
    return given;
}

// An MPRIS player with one fixed track; Play, Pause and Set change it.
struct Player {
    QStringList args;
    QString status = has("--status") ? option("--status") : "Paused";
    double volume = 0.4;
    bool shuffle = false;

    bool has(const char* flag) const { return args.contains(QLatin1String(flag)); }
    QString option(const char* name) const
    {
        const qsizetype at = args.indexOf(name);
        return at < 0 ? QString() : args.value(at + 1);
    }

    QDBusMessage answer(const QDBusMessage& m)
    {
        const QString interface = m.interface(), member = m.member();
        const QVariantList a = m.arguments();
        const QString player = "org.mpris.MediaPlayer2.Player";
        if (interface == "org.freedesktop.DBus.Properties" && a.value(0) == player) {
            if (member == "GetAll")
                return m.createReply(QVariant(properties()));
            const QVariant value = a.value(2).value<QDBusVariant>().variant();
            if (member == "Set" && a.value(1) == "Volume")
                volume = value.toDouble();
            else if (member == "Set" && a.value(1) == "Shuffle")
                shuffle = value.toBool();
            else
                return error(m, "org.freedesktop.DBus.Error.UnknownMethod");
            return m.createReply();
        }
        if (interface == player) {
            if (member == "Play" || member == "Pause")
                status = member == "Play" ? "Playing" : "Paused";
            return m.createReply();
        }
        if (interface == "org.mpris.MediaPlayer2.Playlists" && !has("--no-playlists")) {
            if (member != "GetPlaylists")
                return m.createReply(); // ActivatePlaylist
            QList<Playlist> lists;
            for (const QString& name : option("--playlists").split(';', Qt::SkipEmptyParts))
                lists.append({QDBusObjectPath(QString("/org/orvane/playlist/%1").arg(lists.size())),
                              name, QString()});
            return m.createReply(QVariant::fromValue(lists));
        }
        return error(m, "org.freedesktop.DBus.Error.UnknownMethod");
    }

    QVariantMap properties() const
    {
        const QString name = args.value(0);
        QVariantMap track{{"xesam:title", name + " song"},
                          {"xesam:artist", QStringList{name + " artist", "Guest"}},
                          {"xesam:album", name + " album"},
                          {"mpris:length", qlonglong(215000000)},
                          {"mpris:artUrl", QString("https://example.com/%1.jpg").arg(name)}};
        if (!has("--no-trackid"))
            track["mpris:trackid"] = QVariant::fromValue(QDBusObjectPath("/org/orvane/track/1"));
        return {{"Metadata", has("--no-track") ? QVariantMap() : track},
                {"PlaybackStatus", status},
                {"Position", qlonglong(12500000)},
                {"Volume", volume},
                {"Shuffle", shuffle}};
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<Playlist>();
    qDBusRegisterMetaType<QList<Playlist>>();
    const QStringList args = app.arguments().mid(1);
    const QString kind = args.value(0);
    QDBusConnection bus = QDBusConnection::sessionBus();
    QString name, path;
    Answer answer;
    std::map<QString, std::function<void(const QStringList&)>> told;
    if (kind == "logind") {
        bus = QDBusConnection::systemBus();
        name = "org.freedesktop.login1";
        path = "/org/freedesktop/login1";
        const bool sessionForPid = !args.contains("--no-session-for-pid");
        answer = [=](const QDBusMessage& m) {
            if (m.member() == "GetSessionByPID" && !sessionForPid)
                return error(m, "org.freedesktop.login1.NoSessionForPID");
            if (m.member() == "GetSessionByPID")
                return m.createReply(QVariant::fromValue(QDBusObjectPath(path + "/session/c2")));
            if (m.member() == "Inhibit")
                return m.createReply(QVariant::fromValue(newInhibitor()));
            if (m.member() == "CanSuspend")
                return m.createReply(QStringLiteral("yes"));
            return m.createReply();
        };
    } else if (kind == "portal") {
        name = "org.freedesktop.portal.Desktop";
        path = "/org/freedesktop/portal/desktop";
        auto scheme = std::make_shared<uint>(args.value(1).toUInt());
        told["scheme"] = [=](const QStringList& words) {
            *scheme = words.value(1).toUInt();
            auto changed = QDBusMessage::createSignal(path, "org.freedesktop.portal.Settings",
                                                      "SettingChanged");
            changed << "org.freedesktop.appearance"
                    << "color-scheme"
                    << QVariant::fromValue(QDBusVariant(QVariant::fromValue(*scheme)));
            bus.send(changed);
        };
        const int types = args.indexOf("--device-types");
        const QVariant deviceTypes =
            types > 0 ? QVariant(args.value(types + 1).toUInt()) : QVariant();
        answer = [=](const QDBusMessage& m) {
            if (m.member() == "Get" && m.arguments().value(1) == "AvailableDeviceTypes")
                return deviceTypes.isValid()
                           ? m.createReply(QVariant::fromValue(QDBusVariant(deviceTypes)))
                           : error(m, "org.freedesktop.DBus.Error.UnknownProperty");
            if (m.member() != "Read" ||
                m.arguments() != QVariantList{"org.freedesktop.appearance", "color-scheme"})
                return error(m, "org.freedesktop.portal.Error.NotFound");
            // The older Read answers a variant inside a variant.
            const QDBusVariant inner(QVariant::fromValue(*scheme));
            return m.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(inner))));
        };
    } else if (kind == "mutter") {
        // Only its name counts for choosing it.
        name = "org.gnome.Mutter.RemoteDesktop";
        path = "/org/gnome/Mutter/RemoteDesktop";
        answer = [](const QDBusMessage& m) { return m.createReply(); };
    } else if (kind == "notifications") {
        name = "org.freedesktop.Notifications";
        path = "/org/freedesktop/Notifications";
        auto signal = [=](const char* member, const QVariantList& arguments) {
            auto message = QDBusMessage::createSignal(path, name, member);
            message.setArguments(arguments);
            bus.send(message);
        };
        told["invoke"] = [=](const QStringList& words) {
            signal("ActionInvoked", {words.value(1).toUInt(), words.value(2)});
        };
        auto lastId = std::make_shared<uint>(0);
        answer = [=](const QDBusMessage& m) {
            if (m.member() == "Notify") {
                const uint replaces = m.arguments().value(1).toUInt();
                const uint id = replaces ? replaces : ++*lastId;
                say(QString("notified %1").arg(id));
                return m.createReply(QVariant::fromValue(id));
            }
            if (m.member() == "CloseNotification")
                signal("NotificationClosed", {m.arguments().value(0).toUInt(), 3u});
            return m.createReply();
        };
    } else if (kind == "screensaver") {
        name = "org.freedesktop.ScreenSaver";
        path = "/org/freedesktop/ScreenSaver";
        // Inhibit hands out cookie 7, and only that cookie can be given back.
        answer = [](const QDBusMessage& m) {
            if (m.member() == "Inhibit")
                return m.createReply(QVariant::fromValue(7u));
            if (m.member() == "UnInhibit" && m.arguments().value(0).toUInt() == 7)
                return m.createReply();
            return error(m, "org.freedesktop.DBus.Error.Failed");
        };
    } else if (!kind.isEmpty()) {
        name = "org.mpris.MediaPlayer2." + kind;
        path = "/org/mpris/MediaPlayer2";
        auto player = std::make_shared<Player>(Player{args});
        answer = [player](const QDBusMessage& m) { return player->answer(m); };
    } else {
        say("usage: fake_dbus_services logind|portal|mutter|screensaver|NAME ...");
        return 2;
    }
    if (args.contains("--deny"))
        answer = [](const QDBusMessage& m) {
            return error(m, "org.freedesktop.DBus.Error.AccessDenied");
        };
    if (args.contains("--hang"))
        answer = nullptr;
    Service service(path, answer);
    if (!bus.registerVirtualObject(path, &service, QDBusConnection::SubPath) ||
        !bus.registerService(name)) {
        say("error cannot own " + name + ": " + bus.lastError().message());
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char bytes[256];
        const ssize_t size = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (size <= 0) {
            input.setEnabled(false);
            return;
        }
        for (const QString& line : QString::fromUtf8(bytes, size).split('\n', Qt::SkipEmptyParts)) {
            const QStringList words = line.split(' ');
            if (auto heard = told.find(words.value(0)); heard != told.end())
                heard->second(words);
        }
    });
    say("ready");
    return QCoreApplication::exec();
}

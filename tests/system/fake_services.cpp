// Stand-ins for the desktop services the system controls call, run as a
// child of the tests on the private buses:
//
//   system_fake_services logind [--no-session-for-pid] [--deny]
//   system_fake_services portal SCHEME
//   system_fake_services screensaver [--deny]
//
// Prints "ready" once the service name is owned, then one line per call it
// receives: the method, the object path when it is not the service's own,
// and the arguments, e.g. "SetBrightness /org/freedesktop/login1/session/auto
// backlight acpi_video0 115". The logind inhibitor is one end of a pipe;
// "inhibitor released" is printed when the caller has closed every copy.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QStringList>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

using Answer = std::function<QDBusMessage(const QDBusMessage&)>;

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Prints each call it receives, then answers it.
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
            words << argument.toString();
        say(words.join(QLatin1Char(' ')));
        bus.send(m_answer(message));
        return true;
    }

private:
    QString m_path;
    Answer m_answer;
};

QDBusMessage error(const QDBusMessage& message, const char* name)
{
    return message.createErrorReply(QLatin1String(name), QStringLiteral("refused by the test"));
}

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
            say(QStringLiteral("inhibitor released"));
            watch->setEnabled(false);
            watch->deleteLater();
            ::close(fd);
        }
    });
    return given;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString kind = args.value(0);
    const bool deny = args.contains(QStringLiteral("--deny"));
    QString name, path;
    Answer answer;
    if (kind == QLatin1String("logind")) {
        name = QStringLiteral("org.freedesktop.login1");
        path = QStringLiteral("/org/freedesktop/login1");
        const bool sessionForPid = !args.contains(QStringLiteral("--no-session-for-pid"));
        answer = [=](const QDBusMessage& m) {
            if (deny)
                return error(m, "org.freedesktop.DBus.Error.AccessDenied");
            if (m.member() == QLatin1String("GetSessionByPID") && !sessionForPid)
                return error(m, "org.freedesktop.login1.NoSessionForPID");
            if (m.member() == QLatin1String("GetSessionByPID"))
                return m.createReply(QVariant::fromValue(QDBusObjectPath(path + "/session/c2")));
            if (m.member() == QLatin1String("Inhibit"))
                return m.createReply(QVariant::fromValue(newInhibitor()));
            return m.createReply();
        };
    } else if (kind == QLatin1String("portal")) {
        name = QStringLiteral("org.freedesktop.portal.Desktop");
        path = QStringLiteral("/org/freedesktop/portal/desktop");
        const uint scheme = args.value(1).toUInt();
        answer = [=](const QDBusMessage& m) {
            if (m.member() != QLatin1String("Read") ||
                m.arguments() != QVariantList{"org.freedesktop.appearance", "color-scheme"})
                return error(m, "org.freedesktop.portal.Error.NotFound");
            // The older Read answers a variant inside a variant.
            const QDBusVariant inner(QVariant::fromValue(scheme));
            return m.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(inner))));
        };
    } else if (kind == QLatin1String("screensaver")) {
        name = QStringLiteral("org.freedesktop.ScreenSaver");
        path = QStringLiteral("/org/freedesktop/ScreenSaver");
        // Inhibit hands out cookie 7, and only that cookie can be given back.
        answer = [=](const QDBusMessage& m) {
            if (m.member() == QLatin1String("Inhibit") && !deny)
                return m.createReply(QVariant::fromValue(7u));
            if (m.member() == QLatin1String("UnInhibit") && m.arguments().value(0).toUInt() == 7)
                return m.createReply();
            return error(m, "org.freedesktop.DBus.Error.Failed");
        };
    } else {
        say(QStringLiteral("usage: system_fake_services logind|portal|screensaver ..."));
        return 2;
    }
    QDBusConnection bus = kind == QLatin1String("logind") ? QDBusConnection::systemBus()
                                                          : QDBusConnection::sessionBus();
    Service service(path, answer);
    if (!bus.registerVirtualObject(path, &service, QDBusConnection::SubPath) ||
        !bus.registerService(name)) {
        say(QStringLiteral("error cannot own ") + name + QStringLiteral(": ") +
            bus.lastError().message());
        return 1;
    }
    say(QStringLiteral("ready"));
    return QCoreApplication::exec();
}

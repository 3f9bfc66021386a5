// Stand-ins for the desktop services the system controls call, run as a
// child of the tests on the private buses:
//
//   system_fake_services logind [--no-session-for-pid] [--deny]
//   system_fake_services portal SCHEME
//   system_fake_services screensaver [--deny]
//
// Prints "ready" once the service name is owned, then one line per call it
// receives, e.g. "LockSession 7" or "SetBrightness backlight acpi_video0 115".
// The inhibitor is one end of a pipe; "inhibitor released" is printed when
// the caller has closed every copy of it.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QStringList>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString join(const QVariantList& arguments)
{
    QStringList words;
    for (const QVariant& a : arguments)
        words << a.toString();
    return words.join(QLatin1Char(' '));
}

class FakeLogind final : public QDBusVirtualObject {
public:
    bool sessionForPid = true;
    bool deny = false;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override
    {
        const QString member = message.member();
        QString line = member;
        if (message.path() != QStringLiteral("/org/freedesktop/login1"))
            line += QLatin1Char(' ') + message.path();
        if (!message.arguments().isEmpty())
            line += QLatin1Char(' ') + join(message.arguments());
        say(line);
        if (deny) {
            bus.send(
                message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                         QStringLiteral("denied by the test")));
            return true;
        }
        if (member == QStringLiteral("GetSessionByPID")) {
            if (!sessionForPid) {
                bus.send(message.createErrorReply(
                    QStringLiteral("org.freedesktop.login1.NoSessionForPID"),
                    QStringLiteral("not in a session")));
                return true;
            }
            bus.send(message.createReply(QVariant::fromValue(
                QDBusObjectPath(QStringLiteral("/org/freedesktop/login1/session/c2")))));
            return true;
        }
        if (member == QStringLiteral("Inhibit")) {
            bus.send(message.createReply(QVariant::fromValue(newInhibitor())));
            return true;
        }
        bus.send(message.createReply());
        return true;
    }

private:
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
};

// The desktop's screensaver service: Inhibit hands out cookie 7, and only
// that cookie can be given back.
class FakeScreenSaver final : public QDBusVirtualObject {
public:
    bool deny = false;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override
    {
        say(message.member() + QLatin1Char(' ') + join(message.arguments()));
        const bool knownCookie = message.arguments().value(0).toUInt() == cookie;
        if (message.member() == QStringLiteral("Inhibit") && !deny)
            bus.send(message.createReply(QVariant::fromValue(cookie)));
        else if (message.member() == QStringLiteral("UnInhibit") && knownCookie)
            bus.send(message.createReply());
        else
            bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                              QStringLiteral("refused by the test")));
        return true;
    }

private:
    static constexpr uint cookie = 7;
};

class FakePortal final : public QDBusVirtualObject {
public:
    uint scheme = 0;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override
    {
        say(message.member() + QLatin1Char(' ') + join(message.arguments()));
        const QVariantList args = message.arguments();
        if (message.member() == QStringLiteral("Read") && args.size() == 2 &&
            args[0].toString() == QStringLiteral("org.freedesktop.appearance") &&
            args[1].toString() == QStringLiteral("color-scheme")) {
            // The older Read answers a variant inside a variant.
            QDBusVariant inner(QVariant::fromValue(scheme));
            bus.send(
                message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(inner)))));
            return true;
        }
        bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                                          QStringLiteral("no such setting")));
        return true;
    }
};

int serve(QDBusConnection bus, const QString& name, const QString& path, QDBusVirtualObject* object)
{
    if (!bus.isConnected()) {
        say(QStringLiteral("error no bus: ") + bus.lastError().message());
        return 1;
    }
    if (!bus.registerVirtualObject(path, object, QDBusConnection::SubPath) ||
        !bus.registerService(name)) {
        say(QStringLiteral("error cannot own ") + name);
        return 1;
    }
    say(QStringLiteral("ready"));
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QStringLiteral("logind")) {
        FakeLogind logind;
        logind.sessionForPid = !args.contains(QStringLiteral("--no-session-for-pid"));
        logind.deny = args.contains(QStringLiteral("--deny"));
        return serve(QDBusConnection::systemBus(), QStringLiteral("org.freedesktop.login1"),
                     QStringLiteral("/org/freedesktop/login1"), &logind);
    }
    if (args.value(0) == QStringLiteral("portal")) {
        FakePortal portal;
        portal.scheme = args.value(1).toUInt();
        return serve(QDBusConnection::sessionBus(),
                     QStringLiteral("org.freedesktop.portal.Desktop"),
                     QStringLiteral("/org/freedesktop/portal/desktop"), &portal);
    }
    if (args.value(0) == QStringLiteral("screensaver")) {
        FakeScreenSaver screenSaver;
        screenSaver.deny = args.contains(QStringLiteral("--deny"));
        return serve(QDBusConnection::sessionBus(), QStringLiteral("org.freedesktop.ScreenSaver"),
                     QStringLiteral("/org/freedesktop/ScreenSaver"), &screenSaver);
    }
    say(QStringLiteral("usage: system_fake_services logind|portal|screensaver ..."));
    return 2;
}

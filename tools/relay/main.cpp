// orvane-relay: the relay service that people run themselves, so that a
// phone reaches its computer from anywhere.
#include "relay_options.h"
#include "relay_service.h"
#include "status_server.h"
#include "tls_config.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace orvane::relay;

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    char byte = 1;
    [[maybe_unused]] auto ignored = ::write(signalPipe[1], &byte, 1);
}

void say(const QString& line)
{
    std::fprintf(stderr, "orvane-relay: %s\n", qPrintable(line));
}

// SIGTERM (systemd stopping us) and Ctrl-C close every member with 1001, give
// the close frames a moment to leave, and end the program.
void stopOnSignals(QCoreApplication& app, RelayService& service)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, &service] {
        char byte;
        [[maybe_unused]] auto ignored = ::read(signalPipe[0], &byte, 1);
        say(QStringLiteral("stopping"));
        service.closeAll();
        QTimer::singleShot(300, &app, &QCoreApplication::quit);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

// Two descriptors per room member: the soft limit of 1024 would cap the
// relay at a few hundred rooms, so it is raised as far as the hard one.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

QString hostText(const QHostAddress& address)
{
    const QString text = address.toString();
    return address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]").arg(text)
                                                               : text;
}

int run(QCoreApplication& app, const RelayOptions& options)
{
    std::optional<QSslConfiguration> tls;
    QString error;
    if (options.tls() && !(tls = loadTlsConfiguration(options.certFile, options.keyFile, &error))) {
        say(error);
        return 2;
    }
    raiseDescriptorLimit();
    RelayService service(options, tls, say);
    if (!service.listen(&error)) {
        say(QStringLiteral("cannot listen on %1:%2: %3")
                .arg(hostText(options.listen.address))
                .arg(options.listen.port)
                .arg(error));
        return 1;
    }
    say(QStringLiteral("listening on %1://%2:%3")
            .arg(QLatin1String(tls ? "wss" : "ws"), hostText(options.listen.address))
            .arg(service.port()));
    std::unique_ptr<StatusServer> status;
    if (options.status) {
        status =
            std::make_unique<StatusServer>([&service] { return statusJson(service.figures()); });
        if (!status->listen(*options.status, &error)) {
            say(QStringLiteral("cannot serve the status: %1").arg(error));
            return 1;
        }
        say(QStringLiteral("status on http://%1:%2/status")
                .arg(hostText(options.status->address))
                .arg(status->port()));
    }
    stopOnSignals(app, service);
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-relay"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    const ParsedArguments parsed = parseRelayArguments(QCoreApplication::arguments());
    switch (parsed.action) {
    case ParsedArguments::Action::help:
        std::fputs(qPrintable(parsed.helpText), stdout);
        return 0;
    case ParsedArguments::Action::version:
        std::printf("orvane-relay %s\n", ORVANE_VERSION);
        return 0;
    case ParsedArguments::Action::run:
        break;
    }
    if (!parsed.error.isEmpty()) {
        say(parsed.error + QStringLiteral(" (see --help)"));
        return 2;
    }
    return run(app, parsed.options);
}

// orvane: the desktop half of the phone remote control.
#include "commands/command_set.h"
#include "composition.h"
#include "macinfo/mac_info.h"
#include "macinfo/stats_provider.h"
#include "server/orvane_server.h"
#include "ui/terminal_panel.h"

#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    char byte = 1;
    [[maybe_unused]] auto ignored = ::write(signalPipe[1], &byte, 1);
}

// Ctrl-C, SIGTERM and SIGHUP (the terminal that runs us closed) end the
// event loop, so the program ends the same way, settings saved, whichever
// way it is asked to.
void quitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] auto ignored = ::read(signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

struct Options {
    bool headless = false;
    quint16 port = 0;
};

Options parseOptions(QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Orvane lets a paired phone control this computer over the local network."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption headless(QStringLiteral("headless"),
                                QStringLiteral("Run without windows; pairing is shown here."));
    QCommandLineOption port(QStringLiteral("port"),
                            QStringLiteral("Listen on TCP port <N> (default: any free port)."),
                            QStringLiteral("N"), QStringLiteral("0"));
    parser.addOption(headless);
    parser.addOption(port);
    parser.process(app);

    Options options;
    options.headless = parser.isSet(headless);
    bool ok = false;
    uint value = parser.value(port).toUInt(&ok);
    if (!ok || value > 65535) {
        std::fprintf(stderr, "orvane: --port takes a number from 0 to 65535, not \"%s\"\n",
                     qPrintable(parser.value(port)));
        std::exit(2);
    }
    options.port = static_cast<quint16>(value);
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    orvane::chooseGuiPlatform();
    QGuiApplication app(argc, argv);
    // No window of ours closing may end the server.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setApplicationName(QStringLiteral("orvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    Options options = parseOptions(app);
    quitOnSignals(app);

    auto monotonicMs = [] { return QDeadlineTimer::current(Qt::PreciseTimer).deadline(); };
    orvane::Settings settings;
    orvane::Platform platform = orvane::makePlatform();
    std::unique_ptr<orvane::Machine> machine = orvane::makeMachine();
    orvane::MacInfoProvider macInfo(*machine, orvane::computerPicture);
    orvane::StatsProvider stats(
        *machine, [&platform] { return platform.applications->runningApps(); },
        [] { return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs(); });
    orvane::CommandSet commands(platform, settings, macInfo, stats, monotonicMs);

    orvane::ServerEnvironment environment;
    environment.computerName = orvane::computerName();
    environment.port = options.port;
    environment.advertiser = orvane::makeServiceAdvertiser();
    environment.settings = &settings;
    environment.commands = &commands.dispatcher;
    environment.queries = &commands.queries;
    environment.pointer = &commands.pointer;
    environment.userActivity = &commands.userActivity;
    environment.workspaceEvents = platform.events.get();
    environment.monotonicMs = monotonicMs;
    // The folder that "open the Orvane folder" shows is the one files land in.
    environment.receivedFilesFolder = commands.desktop.folderPath(orvane::MacFolder::orvane);
    environment.relayUrl = orvane::relayUrl(settings);
    environment.screenCapture = orvane::makeScreenCapture();
    environment.accessibilityCheck = [&commands] { return commands.inputAvailable(); };
    environment.screenRecordingCheck = [&platform] {
        return !platform.displays->activeDisplays().empty();
    };

    orvane::OrvaneServer server(std::move(environment));
    // The windowed shell is not built yet, so the terminal is the face of
    // the program with or without a display.
    if (!options.headless)
        std::fprintf(stderr,
                     "orvane: the tray app is not available yet; running in the terminal\n");
    orvane::TerminalPanel panel(server, stdout, STDIN_FILENO);
    server.setPairingPanel(&panel);
    server.start();
    int status = app.exec();
    server.setPairingPanel(nullptr);
    return status;
}

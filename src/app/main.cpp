// orvane: the desktop half of the phone remote control.
#include "command_line.h"
#include "commands/command_set.h"
#include "composition.h"
#include "macinfo/mac_info_provider.h"
#include "macinfo/stats_provider.h"
#include "platform/linux/dbus/session_bus.h"
#include "server/orvane_server.h"
#include "ui/desktop_notifications.h"
#include "ui/desktop_session.h"
#include "ui/desktop_shell.h"
#include "ui/main_window.h"
#include "ui/single_instance.h"
#include "ui/terminal_panel.h"
#include "ui/theme.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <cstring>
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

// Whether this launch may open windows: not when asked for none, and not
// without an X display, where it says so and serves from the terminal.
bool wantsWindows(const orvane::Options& options)
{
    if (options.headless)
        return false;
    if (orvane::guiDisplayReachable())
        return true;
    std::fprintf(stderr, "orvane: no display is reachable; running headless in the terminal\n");
    return false;
}

// Asks a copy already running on this settings file to show itself. Two
// servers on one settings file would fight over one port and one relay room.
bool anotherCopyAnswered(orvane::SingleInstance& instance)
{
    QString answer;
    if (instance.claim(&answer))
        return false;
    if (answer == QLatin1String("shown"))
        std::fprintf(stderr, "orvane: already running; its window is shown\n");
    else
        std::fprintf(stderr, "orvane: already running (%s)\n", qPrintable(answer));
    return true;
}

struct Program {
    Program(quint16 port, const orvane::DesktopChoice& choice);

    std::function<qint64()> monotonicMs = [] {
        return QDeadlineTimer::current(Qt::PreciseTimer).deadline();
    };
    orvane::Settings settings;
    orvane::Desktop desktop;
    orvane::Platform& platform = desktop.platform;
    std::unique_ptr<orvane::Machine> machine = orvane::makeMachine();
    orvane::MacInfoProvider macInfo{*machine, orvane::computerPicture};
    orvane::StatsProvider stats{
        *machine, [this] { return platform.applications->runningApps(); },
        [] { return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs(); }};
    orvane::CommandSet commands{platform, settings, macInfo, stats, monotonicMs};
    // The folder that "open the Orvane folder" shows is the one files land in.
    QString receivedFilesFolder = commands.desktop.folderPath(orvane::MacFolder::orvane);
    std::unique_ptr<orvane::OrvaneServer> server;
};

Program::Program(quint16 port, const orvane::DesktopChoice& choice)
    : desktop(orvane::makeDesktop(choice, settings))
{
    orvane::ServerEnvironment environment;
    environment.computerName = orvane::computerName();
    environment.port = port;
    environment.advertiser = orvane::makeServiceAdvertiser();
    environment.settings = &settings;
    environment.commands = &commands.dispatcher;
    environment.queries = &commands.queries;
    environment.pointer = &commands.pointer;
    environment.userActivity = &commands.userActivity;
    environment.workspaceEvents = platform.events.get();
    environment.monotonicMs = monotonicMs;
    environment.receivedFilesFolder = receivedFilesFolder;
    environment.relayUrl = orvane::relayUrl(settings);
    environment.relayTransport = orvane::makeRelayTransport();
    environment.screenCapture = std::move(desktop.capture);
    environment.accessibilityCheck = [this] { return commands.inputAvailable(); };
    environment.screenRecordingCheck = [this] { return orvane::screenSharingAllowed(desktop); };
    server = std::make_unique<orvane::OrvaneServer>(std::move(environment));
}

int runHeadless(QApplication& app, Program& program, orvane::SingleInstance& instance)
{
    orvane::TerminalPanel panel(*program.server, stdout, STDIN_FILENO);
    instance.onShowRequest = [] { return QStringLiteral("headless"); };
    // Without a window to show the error in, a port that cannot be had ends
    // the run, with a status that lets a service manager try again.
    QObject::connect(program.server.get(), &orvane::OrvaneServer::listenerUnavailable, &app,
                     [&app](const QString& reason) {
                         std::fprintf(stderr, "orvane: cannot listen: %s\n", qPrintable(reason));
                         app.exit(1);
                     });
    program.server->setPairingPanel(&panel);
    program.server->start();
    int status = app.exec();
    program.server->setPairingPanel(nullptr);
    return status;
}

// What only the program with windows has: the look that follows the
// desktop's, and notifications that open what they tell of.
struct DesktopExtras {
    explicit DesktopExtras(Program& program)
        : notifier(*program.server, program.settings, *notifications, program.receivedFilesFolder,
                   [&program](const QString& path) {
                       // The opener answers later; nothing waits on it here.
                       program.platform.workspace->openUrl(QUrl::fromLocalFile(path), [](bool) {});
                       return true;
                   })
    {
        orvane::style::followPreference(colours->prefersDark());
        colours->onChanged = [this] { orvane::style::followPreference(colours->prefersDark()); };
    }

    std::unique_ptr<orvane::ColorSchemeSource> colours = orvane::makeColorSchemeSource();
    std::unique_ptr<orvane::DesktopNotifications> notifications =
        orvane::makeDesktopNotifications();
    orvane::ServerNotifications notifier;
};

int runDesktop(QApplication& app, Program& program, orvane::SingleInstance& instance)
{
    DesktopExtras extras(program);
    // The fixed lines still go to standard output for whoever follows them;
    // the keyboard belongs to the windows.
    orvane::TerminalPanel lines(*program.server, stdout, -1);
    lines.setDrawQrCode(false);
    orvane::OrvaneServer& server = *program.server;
    auto loader = [&program, &server] {
        return program.macInfo.macInfo(server.computerName(), true);
    };
    std::unique_ptr<orvane::DesktopChecks> checks = orvane::makeDesktopChecks(program.desktop);
    orvane::DesktopShell shell(server, *checks, loader, &lines, [&app] { app.quit(); });
    shell.mainWindow().addSettingsSection(orvane::notificationsSection(program.settings));
    instance.onShowRequest = [&shell] {
        shell.showMainWindow();
        return QStringLiteral("shown");
    };
    server.setPairingPanel(&shell.pairingPanel());
    server.start();
    shell.start();
    int status = app.exec();
    server.setPairingPanel(nullptr);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const orvane::Options options = orvane::parseCommandLine(argc, argv);
    orvane::routeDiagnostics(options.verbose);
    bool windows = wantsWindows(options);
    orvane::chooseGuiPlatform(windows);
    QApplication app(argc, argv);
    orvane::releaseDisplayProbe(); // Qt holds the display now
    // No window of ours closing may end the server: the tray, or a later
    // launch, brings the window back.
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setApplicationName(QStringLiteral("orvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("orvane"));
    quitOnSignals(app);

    orvane::SingleInstance instance(orvane::Settings::standardPath());
    if (anotherCopyAnswered(instance))
        return 0;
    const orvane::DesktopChoice choice = orvane::chooseDesktop();
    const orvane::DesktopBackend backend = choice.backend;
    std::printf("orvane: input and screen: %s\n", qPrintable(orvane::backendDescription(backend)));
    if (choice.windows != orvane::WindowBackend::x11) {
        const bool ready = choice.windows != orvane::WindowBackend::gnomeShell ||
                           orvane::gnomeShellExtensionRunning(orvane::sessionBus());
        std::printf("orvane: windows: %s\n",
                    qPrintable(orvane::windowBackendDescription(choice.windows, ready)));
    }
    std::fflush(stdout);
    orvane::setDesktopRoute(
        {orvane::backendDescription(backend), backend == orvane::DesktopBackend::xwayland});
    Program program(options.port, choice);
    return windows ? runDesktop(app, program, instance) : runHeadless(app, program, instance);
}

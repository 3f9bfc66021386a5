#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace orvane {

namespace {

bool diagnosticsShown = false;

void printMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!diagnosticsShown && type != QtCriticalMsg && type != QtFatalMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    std::fflush(stderr);
}

} // namespace

Options parseCommandLine(int argc, char** argv)
{
    // A core application only: no display is touched, so nothing but what
    // was asked for is printed. Gone again before the real one is made.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Orvane lets a paired phone control this computer over the local network."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption headless(QStringLiteral("headless"),
                                QStringLiteral("Run without windows; pairing is shown here."));
    QCommandLineOption verbose(QStringLiteral("verbose"),
                               QStringLiteral("Show diagnostic lines from the libraries."));
    QCommandLineOption port(QStringLiteral("port"),
                            QStringLiteral("Listen on TCP port <N> (default: any free port)."),
                            QStringLiteral("N"), QStringLiteral("0"));
    parser.addOptions({headless, verbose, port});
    parser.process(app);

    Options options;
    options.headless = parser.isSet(headless);
    options.verbose = parser.isSet(verbose);
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

void routeDiagnostics(bool verbose)
{
    diagnosticsShown = verbose || !qEnvironmentVariableIsEmpty("JOURNAL_STREAM");
    qInstallMessageHandler(printMessage);
}

} // namespace orvane

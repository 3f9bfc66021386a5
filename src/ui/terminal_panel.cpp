#include "terminal_panel.h"

#include "desktop_words.h"
#include "qr_text.h"

#include "server/safe_text.h"

#include <QCoreApplication>

#include <algorithm>

#include <unistd.h>

namespace orvane {

namespace {

// A phone chooses its own name; keep terminal control sequences out, and
// the quotes that delimit it on the contract lines.
QString printable(const QString& text)
{
    QString out = printableLine(text);
    out.replace(QLatin1Char('"'), QChar(u'\uFFFD'));
    return out;
}

} // namespace

TerminalPanel::TerminalPanel(OrvaneServer& server, std::FILE* out, int inputFd)
    : m_server(server), m_out(out), m_drawQr(::isatty(::fileno(out)) == 1)
{
    connect(&server, &OrvaneServer::listening, this, [this](quint16 port) {
        line(QStringLiteral("orvane: listening on port %1").arg(port));
    });
    connect(&server.status(), &ServerStatus::errorMessageChanged, this, [this] {
        if (!m_server.status().errorMessage().isEmpty())
            line(QStringLiteral("orvane: ") + m_server.status().errorMessage());
    });
    connect(&server.status(), &ServerStatus::pairingRequestChanged, this,
            &TerminalPanel::pairingChanged);
    connect(&server, &OrvaneServer::listening, this, [this] { announceMissingRelay(); });
    connect(&server.status(), &ServerStatus::activityChanged, this,
            &TerminalPanel::activityChanged);
    connect(&server, &OrvaneServer::pairingEnded, this, &TerminalPanel::pairingEnded);
    if (inputFd >= 0) {
        m_input = std::make_unique<QSocketNotifier>(inputFd, QSocketNotifier::Read);
        connect(m_input.get(), &QSocketNotifier::activated, this, &TerminalPanel::readInput);
    }
}

void TerminalPanel::announceMissingRelay()
{
    if (m_server.status().remoteAccess() && m_server.status().relayUrl().isEmpty() &&
        !m_relayAnnounced) {
        m_relayAnnounced = true;
        line(QStringLiteral("orvane: remote access needs a relay address (ORVANE_RELAY_URL)"));
    }
}

void TerminalPanel::line(const QString& text)
{
    std::fprintf(m_out, "%s\n", text.toUtf8().constData());
    std::fflush(m_out);
}

void TerminalPanel::show()
{
    const auto& request = m_server.status().pairingRequest();
    if (!request)
        return;
    m_showing = true;
    m_lastAttemptsShown = request->attemptsLeft;
    line(QStringLiteral("orvane: pairing request from \"%1\" code %2")
             .arg(printable(request->deviceName), request->code));
    QString url = m_server.status().pairingUrl();
    line(QStringLiteral("orvane: pairing url ") + url);
    if (m_drawQr) {
        std::string qr = qrCodeAsText(url.toStdString());
        std::fputs(qr.c_str(), m_out);
        line(tr("Or scan it with the Orvane app on your phone."));
    }
    if (m_input)
        line(tr("Type d and Enter to decline."));
}

void TerminalPanel::hide()
{
    if (!m_showing)
        return;
    m_showing = false;
    line(QStringLiteral("orvane: pairing request closed"));
}

void TerminalPanel::pairingChanged()
{
    const auto& request = m_server.status().pairingRequest();
    if (!request || !m_showing)
        return;
    if (request->attemptsLeft < m_lastAttemptsShown && request->attemptsLeft <= 2)
        line(tr("Wrong code. %1 attempts left.").arg(request->attemptsLeft));
    m_lastAttemptsShown = request->attemptsLeft;
}

void TerminalPanel::pairingEnded(PairingOutcome outcome, const QString& deviceName)
{
    switch (outcome) {
    case PairingOutcome::paired:
        line(QStringLiteral("orvane: paired with \"%1\"").arg(printable(deviceName)));
        break;
    case PairingOutcome::declined:
        line(QStringLiteral("orvane: pairing declined"));
        break;
    case PairingOutcome::tooManyWrongCodes:
        line(QStringLiteral("orvane: pairing refused after three wrong codes"));
        break;
    case PairingOutcome::timedOut:
        line(QStringLiteral("orvane: pairing timed out"));
        break;
    }
}

void TerminalPanel::activityChanged()
{
    // Failures are what someone at a headless machine needs to see at once;
    // the rest waits for "log".
    const auto& activity = m_server.status().activity();
    if (activity.empty() || activity.front().id == m_lastActivitySeen)
        return;
    const ActivityEntry& newest = activity.front();
    m_lastActivitySeen = newest.id;
    if (!newest.success)
        line(QStringLiteral("orvane: activity: %1: %2 (failed)")
                 .arg(printableLine(newest.device),
                      printableLine(withDesktopKeyNames(newest.text))));
}

void TerminalPanel::printLog()
{
    const auto& activity = m_server.status().activity();
    if (activity.empty())
        line(tr("Nothing has happened yet."));
    for (auto entry = activity.rbegin(); entry != activity.rend(); ++entry)
        line(QStringLiteral("orvane: log %1 %2: %3%4")
                 .arg(entry->date.toLocalTime().toString(QStringLiteral("HH:mm:ss")),
                      printableLine(entry->device), printableLine(withDesktopKeyNames(entry->text)),
                      entry->success ? QString() : QStringLiteral(" (failed)")));
}

void TerminalPanel::readInput()
{
    char buffer[256];
    ssize_t n = ::read(static_cast<int>(m_input->socket()), buffer, sizeof buffer);
    if (n <= 0) {
        m_input->setEnabled(false); // end of input: nothing more to read
        return;
    }
    m_pendingInput.append(buffer, n);
    qsizetype newline;
    while ((newline = m_pendingInput.indexOf('\n')) >= 0) {
        QString command = QString::fromUtf8(m_pendingInput.left(newline)).trimmed();
        m_pendingInput.remove(0, newline + 1);
        runCommand(command);
    }
    if (m_pendingInput.size() > 1024)
        m_pendingInput.clear();
}

void TerminalPanel::runCommand(const QString& command)
{
    QString verb = command.section(QLatin1Char(' '), 0, 0).toLower();
    QString argument = command.section(QLatin1Char(' '), 1).trimmed();
    if (verb == QLatin1String("d") || verb == QLatin1String("decline")) {
        if (m_server.status().hasPairingRequest())
            m_server.declinePairing();
        else
            line(tr("No pairing request to decline."));
    } else if (verb == QLatin1String("pair")) {
        if (m_server.status().pairingPaused()) {
            m_server.liftPairingPause();
            line(QStringLiteral("orvane: pairing pause lifted"));
        } else {
            line(tr("Pairing is not paused."));
        }
    } else if (verb == QLatin1String("log")) {
        printLog();
    } else if (verb == QLatin1String("remote") &&
               (argument == QLatin1String("on") || argument == QLatin1String("off"))) {
        m_server.setRemoteAccess(argument == QLatin1String("on"));
        line(QStringLiteral("orvane: remote access ") + argument);
        announceMissingRelay();
    } else if (verb == QLatin1String("status")) {
        // What the connections hold, for a person or a load test to watch.
        line(
            QStringLiteral("orvane: status connections %1 phones %2 viewers %3 frames-in-flight %4 "
                           "bytes-waiting %5 frame-bytes-arriving %6 loop-stall-ms %7")
                .arg(m_server.connectionCount())
                .arg(m_server.status().devices().size())
                .arg(m_server.status().screenViewerNames().size() +
                     m_server.status().previewViewerNames().size())
                .arg(m_server.screen().framesInFlight())
                .arg(m_server.bytesWaiting())
                .arg(m_server.bufferedFrameBytes())
                .arg(m_loopWatch.takeWorstLatenessMs()));
    } else if (verb == QLatin1String("devices")) {
        listDevices();
    } else if (verb == QLatin1String("forget")) {
        forget(argument);
    } else if (verb == QLatin1String("help")) {
        printHelp();
    } else if (!verb.isEmpty()) {
        line(tr("Unknown command \"%1\". Type help for the list.").arg(printable(verb)));
    }
}

void TerminalPanel::printHelp()
{
    const char* const commands[][2] = {
        {"d", QT_TR_NOOP("decline the pairing request shown")},
        {"pair", QT_TR_NOOP("allow pairing again after wrong codes or too many requests")},
        {"devices", QT_TR_NOOP("list the trusted phones")},
        {"forget NAME-OR-ID", QT_TR_NOOP("forget a phone and close its connections")},
        {"remote on|off", QT_TR_NOOP("switch reach from anywhere on or off")},
        {"log", QT_TR_NOOP("print the activity log, newest last")},
        {"status", QT_TR_NOOP("print what the connections hold")},
        {"help", QT_TR_NOOP("print this list")},
    };
    for (const auto& [name, meaning] : commands)
        line(QStringLiteral("  %1  %2").arg(QLatin1String(name), -18).arg(tr(meaning)));
}

void TerminalPanel::listDevices()
{
    const auto& trusted = m_server.status().trustedDevices();
    if (trusted.empty())
        line(tr("No trusted phones."));
    for (const auto& device : trusted) {
        bool connected =
            std::any_of(m_server.status().devices().begin(), m_server.status().devices().end(),
                        [&](const auto& d) { return d.deviceID == device.id; });
        line(QStringLiteral("orvane: trusted \"%1\" %2%3")
                 .arg(printable(QString::fromStdString(device.name)),
                      QString::fromStdString(device.id.toString()),
                      connected ? QStringLiteral(" connected") : QString()));
    }
}

void TerminalPanel::forget(const QString& nameOrId)
{
    std::vector<Uuid> matches;
    for (const auto& device : m_server.status().trustedDevices()) {
        if (QString::fromStdString(device.name) == nameOrId ||
            QString::fromStdString(device.id.toString()).compare(nameOrId, Qt::CaseInsensitive) ==
                0)
            matches.push_back(device.id);
    }
    if (matches.size() != 1) {
        line(matches.empty()
                 ? tr("No trusted phone is called \"%1\".").arg(printable(nameOrId))
                 : tr("Several phones are called \"%1\"; give its id.").arg(printable(nameOrId)));
        return;
    }
    m_server.forgetDevice(matches.front());
    line(QStringLiteral("orvane: forgot ") + QString::fromStdString(matches.front().toString()));
}

} // namespace orvane

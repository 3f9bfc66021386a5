#pragma once

#include "server/loop_watch.h"
#include "server/orvane_server.h"

#include <QObject>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>

namespace orvane {

// The headless face of the server: fixed lines on standard output that
// scripts can follow, the pairing code and QR code, failures as they happen,
// and a few commands read from standard input ("help" lists them): "d"
// declines the pairing, "pair" lifts a pause, "devices" lists the trusted
// phones, "forget NAME-OR-ID" forgets one, "log" prints the activity log.
class TerminalPanel final : public QObject, public PairingPanel {
    Q_OBJECT
public:
    TerminalPanel(OrvaneServer& server, std::FILE* out, int inputFd);

    void show() override;
    void hide() override;

    // Exposed for tests; decides whether the QR code is drawn.
    void setDrawQrCode(bool draw) { m_drawQr = draw; }

private:
    void line(const QString& text);
    void pairingChanged();
    void activityChanged();
    void pairingEnded(PairingOutcome outcome, const QString& deviceName);
    void printHelp();
    void printLog();
    void announceMissingRelay();
    void readInput();
    void runCommand(const QString& command);
    void listDevices();
    void forget(const QString& nameOrId);

    OrvaneServer& m_server;
    std::FILE* m_out;
    bool m_drawQr;
    bool m_showing = false;
    qint64 m_lastAttemptsShown = 3;
    Uuid m_lastActivitySeen;
    bool m_relayAnnounced = false;
    std::unique_ptr<QSocketNotifier> m_input;
    QByteArray m_pendingInput;
    LoopWatch m_loopWatch;
};

} // namespace orvane

#pragma once

#include "server/orvane_server.h"

#include <QObject>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>

namespace orvane {

// The headless face of the server: fixed lines on standard output that
// scripts can follow, the pairing code and QR code, and a way to decline
// from the terminal ("d" and Enter).
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
    void readInput();

    OrvaneServer& m_server;
    std::FILE* m_out;
    bool m_drawQr;
    bool m_showing = false;
    qint64 m_lastAttemptsShown = 3;
    std::unique_ptr<QSocketNotifier> m_input;
    QByteArray m_pendingInput;
};

} // namespace orvane

#pragma once

#include "server/orvane_server.h"

#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;

namespace orvane {

class CodeCells;
class ElidedLabel;

// The content of the pairing panel: who wants to connect, the code, the QR
// code, the warning after wrong codes and Decline. It follows the server's
// pending request; without one it shows only the symbol. Closing it
// declines, as Escape and Decline do.
class PairingView : public QWidget {
public:
    explicit PairingView(OrvaneServer& server, QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();

    OrvaneServer& m_server;
    QWidget* m_request = nullptr;
    ElidedLabel* m_heading = nullptr;
    CodeCells* m_code = nullptr;
    QWidget* m_qrSection = nullptr;
    QLabel* m_qr = nullptr;
    QLabel* m_attempts = nullptr;
};

// The floating panel the server shows while a phone pairs: a dialog above
// the others, with no minimise or maximise button, made on the first request
// and reused, centred on the screen each time it is shown.
class PairingWindow final : public PairingPanel {
public:
    explicit PairingWindow(OrvaneServer& server);
    ~PairingWindow() override;

    void show() override;
    void hide() override;
    // The panel, once a request has made it.
    QWidget* window() const { return m_window.get(); }

private:
    OrvaneServer& m_server;
    std::unique_ptr<PairingView> m_window;
};

} // namespace orvane

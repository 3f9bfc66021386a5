#pragma once

#include "server/orvane_server.h"

#include <QWidget>

class QLabel;
class QTimer;
class QVBoxLayout;

namespace orvane {

// The banner at the top of the window while anyone watches the screen, with
// the names of those who do and the Stop button.
class SharingBanner : public QWidget {
public:
    explicit SharingBanner(OrvaneServer& server, QWidget* parent = nullptr);

private:
    void refresh();

    OrvaneServer& m_server;
    QLabel* m_viewers = nullptr;
};

// Shown while pairing is paused after repeated wrong codes, with the button
// that lets the person at the computer pair again at once. The pause ends by
// itself too, so the banner looks again each second while it is up.
class PairingPausedBanner : public QWidget {
public:
    explicit PairingPausedBanner(OrvaneServer& server, QWidget* parent = nullptr);

private:
    void refresh();

    OrvaneServer& m_server;
    QTimer* m_recheck = nullptr;
};

// "iPhones": the pending pairing, the connected phones with what each is
// doing, and the paired phones with Forget.
class PhonesSection : public QWidget {
public:
    explicit PhonesSection(OrvaneServer& server, QWidget* parent = nullptr);

private:
    void refreshConnected();
    void refreshPaired();
    QWidget* pairingRow(const OrvaneServer::PairingRequest& request);
    QWidget* deviceRow(const OrvaneServer::Device& device);
    QWidget* pairedRow(const TrustedDevice& device);

    OrvaneServer& m_server;
    QVBoxLayout* m_connected = nullptr;
    QVBoxLayout* m_paired = nullptr;
};

// The device's status under its name: watching beats a preview.
QString phoneStatus(const QString& name, const QStringList& viewers, const QStringList& previews);

} // namespace orvane

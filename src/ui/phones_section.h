#pragma once

#include "server/orvane_server.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace orvane {

class ElidedLabel;

namespace style {
class Surface;
}

// Whether anyone sees the screen: a phone viewing it, or its small preview.
bool someoneWatches(const OrvaneServer& server);
// Who watches and how, in one line: "Ada's phone can view and control it;
// Bob's phone sees a small preview".
QString watchersLine(const QStringList& viewers, const QStringList& previews);

// The strip at the top of the window that says whether anyone watches the
// screen, at any size, with the names and the Stop button while they do. It
// keeps its place and height either way, so nothing under it moves.
class SharingBanner : public QWidget {
public:
    explicit SharingBanner(OrvaneServer& server, QWidget* parent = nullptr);

private:
    void refresh();

    OrvaneServer& m_server;
    style::Surface* m_surface = nullptr;
    QLabel* m_symbol = nullptr;
    QLabel* m_title = nullptr;
    ElidedLabel* m_viewers = nullptr;
    QPushButton* m_stop = nullptr;
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

// "Phones": the pending pairing, the connected phones with what each is
// doing, and the paired phones with Forget.
class PhonesSection : public QWidget {
public:
    explicit PhonesSection(OrvaneServer& server, QWidget* parent = nullptr);

private:
    void refreshConnected();
    void refreshPaired();
    QWidget* pairingRow(const ServerStatus::PairingRequest& request);
    QWidget* deviceRow(const ServerStatus::Device& device);
    QWidget* pairedRow(const TrustedDevice& device);

    OrvaneServer& m_server;
    QVBoxLayout* m_connected = nullptr;
    QVBoxLayout* m_paired = nullptr;
};

// The device's status under its name: watching beats a preview.
QString phoneStatus(const QString& name, const QStringList& viewers, const QStringList& previews);

} // namespace orvane

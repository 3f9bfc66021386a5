#pragma once

#include "activity.h"
#include "connection_hub.h"
#include "pairing_controller.h"
#include "relay_links.h"
#include "router.h"
#include "screen_share_sessions.h"
#include "trust_store.h"
#include "update_publisher.h"

#include "commands/families.h"
#include "protocol/random.h"
#include "settings/settings.h"

#include <QObject>
#include <QStringList>

#include <optional>
#include <vector>

namespace orvane {

// What the tray, the main window and the pairing panel show, with a signal
// for each change: the listener, the phones connected and trusted, the
// pairing in progress, the activity log, the permissions, the switches, the
// last command and who watches the screen. The server publishes its own
// state here; the rest is read from the parts that own it.
class ServerStatus : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isListening READ isListening NOTIFY isListeningChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(quint16 port READ port NOTIFY isListeningChanged)
    Q_PROPERTY(QStringList deviceNames READ deviceNames NOTIFY devicesChanged)
    Q_PROPERTY(DeviceList devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(TrustedDeviceList trustedDevices READ trustedDevices NOTIFY trustedDevicesChanged)
    Q_PROPERTY(
        OptionalPairingRequest pairingRequest READ pairingRequest NOTIFY pairingRequestChanged)
    Q_PROPERTY(bool hasPairingRequest READ hasPairingRequest NOTIFY pairingRequestChanged)
    Q_PROPERTY(ActivityList activity READ activity NOTIFY activityChanged)
    Q_PROPERTY(
        bool accessibilityGranted READ accessibilityGranted NOTIFY accessibilityGrantedChanged)
    Q_PROPERTY(bool screenRecordingGranted READ screenRecordingGranted NOTIFY
                   screenRecordingGrantedChanged)
    Q_PROPERTY(
        bool mediaPermissionDenied READ mediaPermissionDenied NOTIFY mediaPermissionDeniedChanged)
    Q_PROPERTY(bool keepsAwake READ keepsAwake NOTIFY keepsAwakeChanged)
    Q_PROPERTY(bool keepAwakeHeld READ keepAwakeHeld NOTIFY keepAwakeHoldChanged)
    Q_PROPERTY(QString advertisedName READ advertisedName NOTIFY advertisedNameChanged)
    Q_PROPERTY(bool remoteAccess READ remoteAccess NOTIFY remoteAccessChanged)
    Q_PROPERTY(QString lastCommand READ lastCommand NOTIFY lastCommandChanged)
    Q_PROPERTY(QStringList screenViewerNames READ screenViewerNames NOTIFY screenViewersChanged)
    Q_PROPERTY(QStringList previewViewerNames READ previewViewerNames NOTIFY screenViewersChanged)

public:
    using Device = ConnectionHub::Device;
    using DeviceList = ConnectionHub::DeviceList;
    using PairingRequest = PairingController::Request;
    using TrustedDeviceList = std::vector<TrustedDevice>;
    using OptionalPairingRequest = std::optional<PairingRequest>;
    using ActivityList = std::vector<ActivityEntry>;

    // The parts whose state is shown; they outlive this.
    struct Sources {
        PairingController& pairing;
        UpdatePublisher& updates;
        Router& router;
        ScreenShareSessions& screen;
        RelayLinks& relay;
        TrustStore& trust;
        Settings& settings;
        SystemCommands& system;
        RandomSource& random;
        QString computerName;
    };

    explicit ServerStatus(Sources sources, QObject* parent = nullptr);
    ~ServerStatus() override;

    bool isListening() const { return m_isListening; }
    QString errorMessage() const { return m_errorMessage.value_or(QString()); }
    // While listening; 0 otherwise.
    quint16 port() const { return m_port; }
    const DeviceList& devices() const { return m_devices; }
    QStringList deviceNames() const;
    const TrustedDeviceList& trustedDevices() const { return m_src.trust.devices(); }
    const OptionalPairingRequest& pairingRequest() const { return m_src.pairing.request(); }
    bool hasPairingRequest() const { return pairingRequest().has_value(); }
    // The text a QR code carries for the pending pairing; empty without one.
    QString pairingUrl() const;
    // After too many wrong codes, or a flood of new pairings, pairing pauses.
    bool pairingPaused() const { return m_src.pairing.paused(); }
    bool pairingPausedForWrongCodes() const { return m_src.pairing.pausedForWrongCodes(); }
    const ActivityList& activity() const { return m_activity; }
    bool accessibilityGranted() const { return m_src.updates.accessibilityGranted(); }
    bool screenRecordingGranted() const { return m_src.updates.screenRecordingGranted(); }
    bool mediaPermissionDenied() const { return m_src.updates.mediaPermissionDenied(); }
    // The switch as stored; the hold is what really keeps sleep off.
    bool keepsAwake() const { return m_src.settings.keepAwake(); }
    SleepHold keepAwakeHold() const { return m_src.system.keepAwakeHold(); }
    bool keepAwakeHeld() const { return !keepAwakeHold().holder.isEmpty(); }
    // The name the local network knows this computer by, while the
    // advertisement is established; empty otherwise.
    const QString& advertisedName() const { return m_advertisedName; }
    bool remoteAccess() const { return m_src.settings.remoteAccess(); }
    // The relay that remote access goes through; empty when none is known.
    const QString& relayUrl() const { return m_src.relay.relayUrl(); }
    const QString& lastCommand() const { return m_src.router.lastCommand(); }
    const QStringList& screenViewerNames() const { return m_src.screen.viewerNames(); }
    const QStringList& previewViewerNames() const { return m_src.screen.previewNames(); }

    // What the server publishes of its own.
    void setListening(bool listening, quint16 port);
    void setErrorMessage(std::optional<QString> message);
    void setDevices(DeviceList devices);
    void setAdvertisedName(const QString& name);
    void addActivity(const QString& text, const QString& device, bool success);

Q_SIGNALS:
    void isListeningChanged();
    void errorMessageChanged();
    void devicesChanged();
    void trustedDevicesChanged();
    void pairingRequestChanged();
    void activityChanged();
    void accessibilityGrantedChanged();
    void screenRecordingGrantedChanged();
    void mediaPermissionDeniedChanged();
    void keepsAwakeChanged();
    void keepAwakeHoldChanged();
    void advertisedNameChanged();
    void remoteAccessChanged();
    void lastCommandChanged();
    void screenViewersChanged();

private:
    void forwardSignals();

    Sources m_src;
    bool m_isListening = false;
    quint16 m_port = 0;
    std::optional<QString> m_errorMessage;
    DeviceList m_devices;
    ActivityList m_activity;
    QString m_advertisedName;
};

} // namespace orvane

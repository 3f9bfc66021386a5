#pragma once

#include "activity.h"
#include "connection_guard.h"
#include "framed_connection.h"
#include "pairing_controller.h"
#include "pairing_panel.h"
#include "relay_links.h"
#include "router.h"
#include "screen_share.h"
#include "trust_store.h"
#include "update_publisher.h"

#include "platform/service_advertiser.h"
#include "protocol/random.h"
#include "settings/settings.h"

#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {

// What the server works with. The program's composition makes these and
// keeps them for the server's life; tests make them on fakes.
struct ServerEnvironment {
    QString computerName;
    quint16 port = 0;                              // 0: the system chooses
    std::unique_ptr<ServiceAdvertiser> advertiser; // none: not advertised
    Settings* settings = nullptr;
    CommandDispatcher* commands = nullptr;
    PhoneQueries* queries = nullptr;
    PointerDriver* pointer = nullptr;
    UserActivity* userActivity = nullptr;
    WorkspaceEvents* workspaceEvents = nullptr;   // none: no frontmost or running pushes
    std::function<bool()> accessibilityCheck;     // false when null
    std::function<bool()> screenRecordingCheck;   // false when null
    RandomSource* random = nullptr;               // the system's when null
    std::function<qint64()> monotonicMs;          // a steady clock when null
    std::unique_ptr<ScreenCapture> screenCapture; // the source of screen sharing
    QString relayUrl;                             // none: remote access opens no links
    RelayLinks::MakeTransport relayTransport;     // a TLS WebSocket when null
    RelayLinks::Later relayRetry;                 // QTimer when null
    QString receivedFilesFolder;                  // where files from phones are saved
    ServerLimits limits;                          // the settings file may change some
};

// The one central object: the listener and its advertisement, the registry
// of connections and authenticated phones, and the state the windows show.
// Parts with one job each do the rest: the pairing controller, the trust
// store, the router and the update publisher. Everything runs on the Qt
// main thread; no field needs a lock.
class OrvaneServer : public QObject {
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
    struct Device {
        Uuid id;       // the connection id
        Uuid deviceID; // the phone's own id
        QString name;
        bool operator==(const Device&) const = default;
    };
    using PairingRequest = PairingController::Request;
    using DeviceList = std::vector<Device>;
    using TrustedDeviceList = std::vector<TrustedDevice>;
    using OptionalPairingRequest = std::optional<PairingRequest>;
    using ActivityList = std::vector<ActivityEntry>;

    explicit OrvaneServer(ServerEnvironment environment, QObject* parent = nullptr);
    ~OrvaneServer() override;

    void setPairingPanel(PairingPanel* panel) { m_pairing->setPanel(panel); }
    // Starts the listener, its advertisement and the periodic tasks.
    void start();

    // Published state.
    const QString& computerName() const { return m_computerName; }
    const ServerLimits& limits() const { return m_env.limits; }
    bool isListening() const { return m_isListening; }
    QString errorMessage() const { return m_errorMessage.value_or(QString()); }
    quint16 port() const;
    const DeviceList& devices() const { return m_devices; }
    QStringList deviceNames() const;
    const TrustedDeviceList& trustedDevices() const { return m_trust.devices(); }
    const OptionalPairingRequest& pairingRequest() const { return m_pairing->request(); }
    bool hasPairingRequest() const { return pairingRequest().has_value(); }
    const ActivityList& activity() const { return m_activity; }
    bool accessibilityGranted() const { return m_updates->accessibilityGranted(); }
    bool screenRecordingGranted() const { return m_updates->screenRecordingGranted(); }
    bool mediaPermissionDenied() const { return m_updates->mediaPermissionDenied(); }
    // The switch as stored; the hold is what really keeps sleep off.
    bool keepsAwake() const { return m_env.settings->keepAwake(); }
    SleepHold keepAwakeHold() const { return m_env.commands->system().keepAwakeHold(); }
    bool keepAwakeHeld() const { return !keepAwakeHold().holder.isEmpty(); }
    // The name the local network knows this computer by, while the
    // advertisement is established; empty otherwise.
    const QString& advertisedName() const { return m_advertisedName; }
    bool remoteAccess() const { return m_env.settings->remoteAccess(); }
    const QString& lastCommand() const { return m_router->lastCommand(); }
    const QStringList& screenViewerNames() const { return m_screen->viewerNames(); }
    const QStringList& previewViewerNames() const { return m_screen->previewNames(); }
    // The user's Stop button.
    void stopScreenSharing();
    // The text a QR code carries for the pending pairing; empty without one.
    QString pairingUrl() const;

    // What the user does.
    void declinePairing() { m_pairing->decline(); }
    void forgetDevice(const Uuid& deviceID);
    // After too many wrong codes pairing pauses; the user may lift it.
    bool pairingPaused() const { return m_pairing->paused(); }
    bool pairingPausedForWrongCodes() const { return m_pairing->pausedForWrongCodes(); }
    void liftPairingPause() { m_pairing->liftPause(); }
    // Stores the switch and holds or releases what keeps the machine awake;
    // switched on again, it tries again.
    void setKeepAwake(bool on) { m_env.commands->system().setKeepAwake(on); }
    void setRemoteAccess(bool on) { m_env.settings->setRemoteAccess(on); }
    // The relay that remote access goes through; empty when none is known.
    const QString& relayUrl() const { return m_relay->relayUrl(); }
    void addActivity(const QString& text, const QString& device, bool success);

    // The registry. A connection from the listener is guarded while it has
    // not authenticated; relay links register theirs the same way.
    void acceptConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id);
    // A connection started elsewhere (a relay link a phone joined), which
    // keeps its own state handler and calls removeConnection when it ends.
    void registerConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id);
    void removeConnection(const Uuid& id);
    std::shared_ptr<FramedConnection> connection(const Uuid& id) const;
    std::size_t connectionCount() const { return m_connections.size(); }
    bool isAuthenticated(const Uuid& id) const;
    QString deviceName(const Uuid& id) const;
    void installSession(const Uuid& id, const SessionKeys& keys);
    void sendMessage(const OrvaneMessage& message, const Uuid& id);
    // The handshake messages that travel as plain frames even with keys.
    void sendPlain(const OrvaneMessage& message, const Uuid& id);
    void broadcast(const OrvaneMessage& message);
    void closeConnection(const Uuid& id);
    // Every connection of one phone, open or in a handshake, but `except`.
    void closeConnectionsOf(const Uuid& deviceID, const Uuid& except = {});
    // A connection that finished its handshake.
    void addDevice(Device device);
    void sendInitialState(const Uuid& id) { m_updates->sendInitialState(id); }

    // What the connections hold: incoming frames still arriving, and
    // replies not yet written.
    std::size_t bufferedFrameBytes() const { return m_frameBudget.used(); }
    std::size_t bufferedFrameBytesOf(const Uuid& deviceID) const
    {
        return m_frameBudget.usedBy(deviceID);
    }
    // Closes the connections whose frame in progress has fallen behind the
    // least pace; the frame watch calls it.
    void closeSlowFrames();
    std::size_t bytesWaiting() const;

    UpdatePublisher& updates() { return *m_updates; }
    ScreenShareSessions& screen() { return *m_screen; }
    RelayLinks& relay() { return *m_relay; }
    PairingController& pairing() { return *m_pairing; }

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
    // The port each time the listener becomes ready.
    void listening(quint16 port);
    // The listener could not be opened; it is tried again shortly.
    void listenerUnavailable(const QString& reason);
    void pairingEnded(PairingOutcome outcome, const QString& deviceName);

private:
    void forwardSignals();
    void startListener();
    void listenerFailed(const QString& description);
    void handleNewConnection();
    void takePendingConnections();
    void wire(const Uuid& id, FramedConnection& connection);
    void handleMessage(const Uuid& id, const OrvaneMessage& message);
    void handleDecryptFailure(const Uuid& id);
    void setListening(bool listening);
    void setErrorMessage(std::optional<QString> message);
    void setDevices(DeviceList devices);
    qint64 nowMs() const { return m_env.monotonicMs(); }

    ServerEnvironment m_env;
    RandomSource& m_random;
    const QString m_computerName;
    bool m_isListening = false;
    std::optional<QString> m_errorMessage;
    DeviceList m_devices;
    ActivityList m_activity;
    QString m_advertisedName;

    std::unique_ptr<QTcpServer> m_listener;
    QTimer m_restartTimer;
    QTimer m_frameWatch;
    bool m_acceptScheduled = false;
    std::map<Uuid, std::shared_ptr<FramedConnection>> m_connections;
    ConnectionGuard m_guard;
    FrameBudget m_frameBudget;
    TrustStore m_trust;
    std::unique_ptr<UpdatePublisher> m_updates;
    std::unique_ptr<PairingController> m_pairing;
    std::unique_ptr<RelayLinks> m_relay;
    std::unique_ptr<ScreenStreamer> m_streamer;
    std::unique_ptr<ScreenShareSessions> m_screen;
    std::unique_ptr<Router> m_router;
};

} // namespace orvane

#pragma once

#include "connection_guard.h"
#include "connection_hub.h"
#include "pairing_controller.h"
#include "pairing_panel.h"
#include "relay_links.h"
#include "router.h"
#include "screen_share_sessions.h"
#include "server_status.h"
#include "trust_store.h"
#include "update_publisher.h"

#include "platform/service_advertiser.h"
#include "protocol/random.h"
#include "settings/settings.h"

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
    RelayLinks::MakeTransport relayTransport;     // none: remote access opens no links
    RelayLinks::Later relayRetry;                 // QTimer when null
    QString receivedFilesFolder;                  // where files from phones are saved
    ServerLimits limits;                          // the settings file may change some
};

// The one central object: the listener and its advertisement, and the
// registry of connections, one PhoneSession each. Parts with one job each
// do the rest: the pairing controller, the trust store, the router, the
// update publisher, screen sharing and the relay links; they see the
// registry only as a ConnectionHub. What the windows show is in status().
// Everything runs on the Qt main thread; no field needs a lock.
class OrvaneServer : public ConnectionHub {
    Q_OBJECT
public:
    using PairingRequest = PairingController::Request;

    explicit OrvaneServer(ServerEnvironment environment, QObject* parent = nullptr);
    ~OrvaneServer() override;

    void setPairingPanel(PairingPanel* panel) { m_pairing->setPanel(panel); }
    // Starts the listener, its advertisement and the periodic tasks.
    void start();

    ServerStatus& status() { return *m_status; }
    const ServerStatus& status() const { return *m_status; }
    const ServerLimits& limits() const { return m_env.limits; }
    // While listening; 0 otherwise.
    quint16 port() const;

    // What the user does.
    // The Stop button.
    void stopScreenSharing();
    void declinePairing() { m_pairing->decline(); }
    void forgetDevice(const Uuid& deviceID);
    // After too many wrong codes pairing pauses; the user may lift it.
    void liftPairingPause() { m_pairing->liftPause(); }
    // Stores the switch and holds or releases what keeps the machine awake;
    // switched on again, it tries again.
    void setKeepAwake(bool on) { m_env.commands->system().setKeepAwake(on); }
    void setRemoteAccess(bool on) { m_env.settings->setRemoteAccess(on); }

    // The registry, as the parts see it.
    const QString& computerName() const override { return m_computerName; }
    const DeviceList& devices() const override { return m_devices; }
    PhoneSession* session(const Uuid& id) const override;
    std::vector<PhoneSession*> sessions() const override;
    void sendMessage(const OrvaneMessage& message, const Uuid& id) override;
    void sendPlain(const OrvaneMessage& message, const Uuid& id) override;
    void closeConnection(const Uuid& id) override;
    void closeConnectionsOf(const Uuid& deviceID, const Uuid& except = {}) override;
    void addActivity(const QString& text, const QString& device, bool success) override;
    void installSession(const Uuid& id, const SessionKeys& keys) override;
    void addDevice(Device device) override;
    // A connection from the listener is guarded while it has not
    // authenticated; relay links register theirs the same way.
    void registerConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id) override;
    void removeConnection(const Uuid& id) override;
    // A connection of the listener's, which ends itself when it fails.
    void acceptConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id);
    std::size_t connectionCount() const { return m_sessions.size(); }

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
    // The port each time the listener becomes ready.
    void listening(quint16 port);
    // The listener could not be opened; it is tried again shortly.
    void listenerUnavailable(const QString& reason);
    void pairingEnded(PairingOutcome outcome, const QString& deviceName);

private:
    void connectParts();
    void startListener();
    void listenerFailed(const QString& description);
    void handleNewConnection();
    void takePendingConnections();
    std::optional<Uuid> pairingConnection() const;
    void wire(const Uuid& id, FramedConnection& connection);
    void handleMessage(const Uuid& id, const OrvaneMessage& message);
    void handleDecryptFailure(const Uuid& id);
    void setDevices(DeviceList devices);

    ServerEnvironment m_env;
    RandomSource& m_random;
    const QString m_computerName;
    DeviceList m_devices;

    std::unique_ptr<QTcpServer> m_listener;
    QTimer m_restartTimer;
    QTimer m_frameWatch;
    bool m_acceptScheduled = false;
    std::map<Uuid, std::unique_ptr<PhoneSession>> m_sessions;
    ConnectionGuard m_guard;
    FrameBudget m_frameBudget;
    TrustStore m_trust;
    // Made after the parts it reads, and let go after them: a part may
    // still log while it is taken down.
    std::unique_ptr<ServerStatus> m_status;
    std::unique_ptr<UpdatePublisher> m_updates;
    std::unique_ptr<PairingController> m_pairing;
    std::unique_ptr<RelayLinks> m_relay;
    std::unique_ptr<ScreenStreamer> m_streamer;
    std::unique_ptr<ScreenShareSessions> m_screen;
    std::unique_ptr<Router> m_router;
};

} // namespace orvane

#pragma once

#include "activity.h"
#include "connection_guard.h"
#include "framed_connection.h"
#include "key_pool.h"
#include "pairing_budget.h"
#include "pairing_panel.h"
#include "reply_chain.h"
#include "server_limits.h"
#include "user_defaults.h"

#include "commands/dispatcher.h"
#include "macinfo/mac_info.h"
#include "macinfo/stats_provider.h"
#include "platform/service_advertiser.h"
#include "protocol/random.h"

#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {

// What the server needs from its surroundings, so tests can supply fakes,
// a clock and a fixed random source.
struct ServerEnvironment {
    QString macName;
    quint16 port = 0; // 0: the system chooses
    std::unique_ptr<ServiceAdvertiser> advertiser;
    std::unique_ptr<UserDefaults> defaults; // the standard file when null
    RandomSource* random = nullptr;            // the system's when null
    std::function<qint64()> monotonicMs;       // a steady clock; QDeadlineTimer when null
    std::function<bool()> accessibilityCheck;  // false when null
    QString receivedFilesFolder;               // where files from phones are saved
    ServerLimits limits;                       // the settings file may change some
    CommandDispatcher* commands = nullptr;     // none: commands go unanswered
    MacInfoProvider* macInfo = nullptr;        // none: information goes unanswered
    StatsProvider* stats = nullptr;            // none: statistics go unanswered
    WorkspaceEvents* workspaceEvents = nullptr; // none: no frontmost or running pushes
    std::function<bool()> screenRecordingCheck; // false when null
};

// The one central object: listener and advertisement, the connection
// registry, handshakes and pairing, trusted phones and the activity log.
// Everything runs on the Qt main thread; no field needs a lock.
class OrvaneServer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isListening READ isListening NOTIFY isListeningChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(quint16 port READ port NOTIFY isListeningChanged)
    Q_PROPERTY(QStringList deviceNames READ deviceNames NOTIFY devicesChanged)
    Q_PROPERTY(DeviceList devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(TrustedDeviceList trustedDevices READ trustedDevices NOTIFY trustedDevicesChanged)
    Q_PROPERTY(OptionalPairingRequest pairingRequest READ pairingRequest NOTIFY pairingRequestChanged)
    Q_PROPERTY(ActivityList activity READ activity NOTIFY activityChanged)
    Q_PROPERTY(bool accessibilityGranted READ accessibilityGranted NOTIFY accessibilityGrantedChanged)
    Q_PROPERTY(bool hasPairingRequest READ hasPairingRequest NOTIFY pairingRequestChanged)
    Q_PROPERTY(bool keepsAwake READ keepsAwake NOTIFY keepsAwakeChanged)
    Q_PROPERTY(bool remoteAccess READ remoteAccess NOTIFY remoteAccessChanged)
    Q_PROPERTY(QString lastCommand READ lastCommand NOTIFY lastCommandChanged)
    Q_PROPERTY(bool screenRecordingGranted READ screenRecordingGranted NOTIFY screenRecordingGrantedChanged)
    Q_PROPERTY(bool mediaPermissionDenied READ mediaPermissionDenied NOTIFY mediaPermissionDeniedChanged)

public:
    struct Device {
        Uuid id;       // the connection id
        Uuid deviceID; // the phone's own id
        QString name;
        bool operator==(const Device&) const = default;
    };

    struct Handshake {
        crypto::Key32 macPublicKey{};
        Bytes phonePublicKey;
        crypto::Key32 sharedSecret{}; // agreed once; each salt derives new keys from it
        Uuid deviceID;
        QString deviceName;
        bool isPairing = false;
        // What a token reconnect was keyed with; it must still be the
        // device's when the phone authenticates.
        std::optional<std::string> tokenHash;
    };

    struct PairingRequest {
        Uuid connectionID;
        Uuid deviceID;
        QString deviceName;
        QString code;
        QString qrKey;
        qint64 attemptsLeft = 3;
        bool operator==(const PairingRequest&) const = default;
    };

    using DeviceList = std::vector<Device>;
    using TrustedDeviceList = std::vector<TrustedDevice>;
    using OptionalPairingRequest = std::optional<PairingRequest>;
    using ActivityList = std::vector<ActivityEntry>;

    explicit OrvaneServer(ServerEnvironment environment, QObject* parent = nullptr);
    ~OrvaneServer() override;

    void setPairingPanel(PairingPanel* panel) { m_pairingPanel = panel; }
    // Starts the listener and its advertisement. Observers connect first.
    void start();

    // Published state.
    const QString& macName() const { return m_macName; }
    // The name the advertisement holds (another on a collision), or empty.
    const QString& advertisedName() const { return m_advertisedName; }
    bool isListening() const { return m_isListening; }
    QString errorMessage() const { return m_errorMessage.value_or(QString()); }
    quint16 port() const;
    const std::vector<Device>& devices() const { return m_devices; }
    QStringList deviceNames() const;
    const std::vector<TrustedDevice>& trustedDevices() const { return m_trustedDevices; }
    const std::optional<PairingRequest>& pairingRequest() const { return m_pairingRequest; }
    bool hasPairingRequest() const { return m_pairingRequest.has_value(); }
    bool accessibilityGranted() const { return m_accessibilityGranted; }
    const std::vector<ActivityEntry>& activity() const { return m_activity; }
    bool keepsAwake() const { return m_keepsAwake; }
    bool remoteAccess() const { return m_remoteAccess; }
    const QString& lastCommand() const { return m_lastCommand; }
    UserDefaults& defaults() { return *m_env.defaults; }
    bool screenRecordingGranted() const { return m_screenRecordingGranted; }
    bool mediaPermissionDenied() const { return m_mediaPermissionDenied; }

    // Pushed updates (updates.cpp). The periodic tasks call these on their
    // intervals; they are public so their rules can be exercised directly.
    static constexpr int permissionPollMs = 2000;
    static constexpr int infoPushMs = 30'000;
    static constexpr int nowPlayingPollMs = 1500;
    static constexpr int nowPlayingRefreshMs = 350;
    void permissionPoll();
    void pushMacInfo();
    void nowPlayingPoll();
    std::int64_t nowPlayingTick() const { return m_nowPlayingTick; }
    std::optional<MacApp> currentFrontmostApp();
    // Stores the switch and holds or releases the keep-awake inhibitor.
    void setKeepAwake(bool on);
    // The display pointer events land on; 0 is the main display.
    std::uint32_t selectedDisplay() const { return m_selectedDisplay; }
    // The text a QR code carries for the pending pairing; empty without one.
    QString pairingUrl() const;

    // Registry. A connection from the listener: guarded while it has not
    // authenticated, then registered and started.
    void acceptConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id);
    void registerConnection(std::shared_ptr<FramedConnection> connection, const Uuid& id);
    void removeConnection(const Uuid& id);
    bool isAuthenticated(const Uuid& id) const;
    void sendMessage(const OrvaneMessage& message, const Uuid& id);
    void broadcast(const OrvaneMessage& message);
    void closeConnection(const Uuid& id);
    std::size_t connectionCount() const { return m_connections.size(); }

    // Pairing and trust.
    void rejectPairing(const Uuid& id, const QString& reason);
    void declinePairing();
    void forgetDevice(const Uuid& deviceID);
    // After too many wrong codes pairing pauses; the person at the computer
    // may lift the pause at once.
    bool pairingPaused() const;
    void liftPairingPause();

    // What the connections hold: incoming frames still arriving, and replies
    // not yet written.
    std::size_t bufferedFrameBytes() const { return m_frameBudget.used(); }
    std::size_t bytesWaiting() const;

    void addActivity(const QString& text, const QString& device, bool success);
    void saveReceivedFile(const Uuid& connectionID, const ReceivedFile& file);

Q_SIGNALS:
    void isListeningChanged();
    void errorMessageChanged();
    void devicesChanged();
    void trustedDevicesChanged();
    void pairingRequestChanged();
    void accessibilityGrantedChanged();
    void activityChanged();
    void keepsAwakeChanged();
    void remoteAccessChanged();
    void lastCommandChanged();
    void screenRecordingGrantedChanged();
    void mediaPermissionDeniedChanged();
    // The port each time the listener becomes ready.
    void listening(quint16 port);

private:
    // Listener (orvane_server.cpp).
    void startListener();
    void restartListener();
    void listenerFailed(const QString& description);
    void handleNewConnection();
    void takePendingConnections();

    // Handshake and pairing (handshake.cpp).
    void handlePlainMessage(const Uuid& id, const OrvaneMessage& message);
    void handleMessage(const Uuid& id, const OrvaneMessage& message);
    void handleHello(const Uuid& id, const msg::Hello& hello);
    void handlePairingMethod(const Uuid& id, bool qr);
    void handleAuthenticate(const Uuid& id);
    void handleDecryptFailure(const Uuid& id);
    void beginPairing(const Uuid& id);
    bool installSession(const Uuid& id, const crypto::Key32& salt);
    void completePairing(const Uuid& id);
    void finishAuthentication(const Uuid& id, Uuid deviceID, QString name);
    bool makeRoomForDevice(const Uuid& id, const Uuid& deviceID);
    void closeHandshakesOf(const Uuid& deviceID, const Uuid& except);
    void wrongCode(const Uuid& id);
    QString pausedText() const;
    void setDeadline(const Uuid& id, qint64 ms);
    void deadlinePassed(const Uuid& id);
    void sendPlain(const OrvaneMessage& message, const Uuid& id);
    void setPairingRequest(std::optional<PairingRequest> request);

    // Routing of an authenticated phone's messages (router.cpp).
    void route(const Uuid& id, const OrvaneMessage& message);
    void runCommand(const Uuid& id, const msg::Run& run);
    void handlePointer(const Uuid& id, const PointerEvent& event);
    QString deviceName(const Uuid& id) const;
    void setLastCommand(QString label);
    void sendAppCatalog(const Uuid& id);
    ConnectionReplies* repliesFor(const Uuid& id);
    void sendIcons(const Uuid& id, std::vector<std::string> bundleIDs);
    void sendWindows(const Uuid& id);
    void sendStats(const Uuid& id);
    MacInfo buildMacInfo(bool includeImage);

    // Pushed updates (updates.cpp).
    void startPeriodicTasks();
    void watchWorkspace();
    void frontmostChanged();
    void applicationsChanged();
    void sendInitialState(const Uuid& id);
    void setAccessibilityGranted(bool granted);

    // Trusted devices (trusted_devices.cpp).
    void setTrustedDevices(std::vector<TrustedDevice> devices);
    std::optional<std::string> tokenHashForDevice(const Uuid& deviceID) const;

    void setListening(bool listening);
    void setErrorMessage(std::optional<QString> message);
    void setDevices(std::vector<Device> devices);
    qint64 nowMs() const;

    ServerEnvironment m_env;
    RandomSource& m_random;
    const QString m_macName;
    QString m_advertisedName;
    PairingPanel* m_pairingPanel = nullptr;

    bool m_isListening = false;
    std::optional<QString> m_errorMessage;
    std::vector<Device> m_devices;
    std::vector<TrustedDevice> m_trustedDevices;
    std::optional<PairingRequest> m_pairingRequest;
    bool m_accessibilityGranted = false;
    std::vector<ActivityEntry> m_activity;
    bool m_keepsAwake = false;
    bool m_remoteAccess = true;
    QString m_lastCommand;
    std::uint32_t m_selectedDisplay = 0;
    bool m_screenRecordingGranted = false;
    bool m_mediaPermissionDenied = false;
    std::optional<NowPlaying> m_lastNowPlaying;
    std::int64_t m_nowPlayingTick = 0;
    std::optional<SystemState> m_lastSystemState;
    std::optional<MacApp> m_lastFrontmost;
    // The latest readings (of a poll or an authentication) and notification,
    // for phones that authenticate; the last* fields above are what was sent.
    std::optional<qint64> m_readAtMs;
    std::optional<NowPlaying> m_currentNowPlaying;
    SystemState m_currentSystemState;
    std::optional<std::optional<MacApp>> m_knownFrontmost;
    std::optional<std::vector<std::string>> m_lastRunningApps;
    QTimer m_pollTimer;
    QTimer m_infoTimer;
    QTimer m_nowPlayingTimer;

    std::unique_ptr<QTcpServer> m_listener;
    QTimer m_restartTimer;
    bool m_acceptScheduled = false;
    std::map<Uuid, std::shared_ptr<FramedConnection>> m_connections;
    std::map<Uuid, Handshake> m_handshakes;
    ConnectionGuard m_guard;
    PairingBudget m_pairingBudget;
    KeyPool m_keyPool;
    FrameBudget m_frameBudget;
    // One per connection that has not authenticated: the hello, then the
    // reconnect or the pairing, must come in time. Freed with the connection.
    std::map<Uuid, std::unique_ptr<QTimer>> m_deadlines;
    // Icons and thumbnails go out one at a time per connection.
    std::map<Uuid, ConnectionReplies> m_replies;
};

} // namespace orvane

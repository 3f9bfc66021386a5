#pragma once

#include "server_limits.h"

#include "protocol/trusted_device.h"

#include <QObject>
#include <QString>

#include <vector>

namespace orvane {

// The settings file: the trusted phones, the keep-awake, remote-access and
// notification switches, and limits for unusual machines. The only code that reads or
// writes it. The file is created readable by its owner alone, since it
// holds token hashes; keys written by others survive every save.
class Settings : public QObject {
    Q_OBJECT
public:
    // `path` empty: $XDG_CONFIG_HOME/Orvane/Orvane.conf.
    explicit Settings(QString path = {}, QObject* parent = nullptr);

    static QString standardPath();
    const QString& path() const { return m_path; }

    // Unreadable or corrupt data gives an empty list; the stored value is
    // left as it is until the next save replaces it.
    const std::vector<TrustedDevice>& trustedDevices() const { return m_trustedDevices; }
    bool setTrustedDevices(std::vector<TrustedDevice> devices);

    bool keepAwake() const { return m_keepAwake; } // off when absent
    bool setKeepAwake(bool on);
    bool remoteAccess() const { return m_remoteAccess; } // on when absent or not a bool
    bool setRemoteAccess(bool on);
    // Desktop notifications of pairings, files, screen sharing and pauses.
    bool notifications() const { return m_notifications; } // on when absent or not a bool
    bool setNotifications(bool on);
    // The relay's base address, e.g. wss://relay.example.org; empty when unset.
    QString relayUrl() const;
    bool setRelayUrl(const QString& url);
    // What the desktop portal handed back so that its approval holds in the
    // next run: of remote control, and of screen sharing alone. Empty when
    // none.
    QString portalToken(const QString& kind) const;
    bool setPortalToken(const QString& kind, const QString& token);

    // Under [limits]: freeSpaceFloorBytes, authenticatedConnections and
    // connectionsPerDevice. Absent or malformed values leave `limits` alone.
    void applyLimits(ServerLimits& limits) const;

Q_SIGNALS:
    void trustedDevicesChanged();
    void keepAwakeChanged();
    void remoteAccessChanged();
    void notificationsChanged();

private:
    bool ensurePrivateFile() const;
    bool write(const QString& key, const QVariant& value);
    // Sets a switch, saves it and tells, when it changes.
    bool setSwitch(bool& value, const QString& key, bool on, void (Settings::*changed)());

    QString m_path;
    std::vector<TrustedDevice> m_trustedDevices;
    bool m_keepAwake = false;
    bool m_remoteAccess = true;
    bool m_notifications = true;
};

} // namespace orvane

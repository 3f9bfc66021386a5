#pragma once

#include "server_limits.h"

#include "protocol/trusted_device.h"

#include <QSettings>
#include <QString>

#include <memory>
#include <vector>

namespace orvane {

// The three stored settings: "trustedDevices", "keepMacAwake" and
// "remoteAccess", in an INI file that only its owner may read, since it
// holds token hashes. All writes go through QSettings, so keys written by
// others survive.
class UserDefaults {
public:
    // `path` empty: $XDG_CONFIG_HOME/Orvane/Orvane.conf.
    explicit UserDefaults(QString path = {});

    static QString standardPath();
    const QString& path() const { return m_path; }

    // Unreadable or corrupt data gives an empty list and is left as it is.
    std::vector<TrustedDevice> loadTrustedDevices() const;
    bool saveTrustedDevices(const std::vector<TrustedDevice>& devices);

    bool keepMacAwake() const;                // false when absent
    bool remoteAccess() const;                // true when absent or not a bool
    bool setBool(const QString& key, bool value);

    // Limits the file sets under [limits], for a machine with a small disk
    // or a load test: freeSpaceFloorBytes, authenticatedConnections,
    // connectionsPerDevice. Absent or malformed values leave `limits` alone.
    void applyLimits(ServerLimits& limits) const;

private:
    bool ensurePrivateFile() const;
    bool write(const QString& key, const QVariant& value);

    QString m_path;
};

} // namespace orvane

#pragma once

#include "settings/settings.h"

#include <functional>
#include <optional>
#include <string>

namespace orvane {

// The phones that paired once, kept in the settings file: never their
// tokens, only a hash of each. Changes reach observers through the
// settings' trustedDevicesChanged.
class TrustStore {
public:
    explicit TrustStore(Settings& settings) : m_settings(settings) {}

    const std::vector<TrustedDevice>& devices() const { return m_settings.trustedDevices(); }
    std::optional<std::string> tokenHashFor(const Uuid& deviceID) const;
    // Replaces any earlier entry of the phone; the new one goes last.
    void trust(const Uuid& deviceID, const std::string& name, const std::string& token);
    void rename(const Uuid& deviceID, const std::string& name);
    void forget(const Uuid& deviceID);

    // Told, with the phone's name, when a change could not be written to
    // the settings file: it holds until Orvane quits and is lost then.
    std::function<void(const std::string& deviceName)> onSaveFailed;

private:
    void save(std::vector<TrustedDevice> trusted, const std::string& deviceName);

    Settings& m_settings;
};

} // namespace orvane

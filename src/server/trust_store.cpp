#include "trust_store.h"

#include "protocol/secure_session.h"

#include <QDateTime>

namespace orvane {

std::optional<std::string> TrustStore::tokenHashFor(const Uuid& deviceID) const
{
    for (const auto& device : devices())
        if (device.id == deviceID)
            return device.tokenHash;
    return std::nullopt;
}

void TrustStore::trust(const Uuid& deviceID, const std::string& name, const std::string& token)
{
    std::vector<TrustedDevice> trusted = devices();
    std::erase_if(trusted, [&](const TrustedDevice& d) { return d.id == deviceID; });
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0 - referenceDateOffset;
    trusted.push_back({deviceID, name, hexDigest(token), now});
    m_settings.setTrustedDevices(std::move(trusted));
}

void TrustStore::rename(const Uuid& deviceID, const std::string& name)
{
    std::vector<TrustedDevice> trusted = devices();
    for (auto& device : trusted)
        if (device.id == deviceID)
            device.name = name;
    m_settings.setTrustedDevices(std::move(trusted));
}

void TrustStore::forget(const Uuid& deviceID)
{
    std::vector<TrustedDevice> trusted = devices();
    std::erase_if(trusted, [&](const TrustedDevice& d) { return d.id == deviceID; });
    m_settings.setTrustedDevices(std::move(trusted));
}

} // namespace orvane

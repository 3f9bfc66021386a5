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
    save(std::move(trusted), name);
}

void TrustStore::rename(const Uuid& deviceID, const std::string& name)
{
    std::vector<TrustedDevice> trusted = devices();
    for (auto& device : trusted)
        if (device.id == deviceID)
            device.name = name;
    save(std::move(trusted), name);
}

void TrustStore::forget(const Uuid& deviceID)
{
    std::vector<TrustedDevice> trusted = devices();
    std::string name;
    for (const auto& device : trusted)
        if (device.id == deviceID)
            name = device.name;
    std::erase_if(trusted, [&](const TrustedDevice& d) { return d.id == deviceID; });
    save(std::move(trusted), name);
}

void TrustStore::save(std::vector<TrustedDevice> trusted, const std::string& deviceName)
{
    if (!m_settings.setTrustedDevices(std::move(trusted)) && onSaveFailed)
        onSaveFailed(deviceName);
}

} // namespace orvane

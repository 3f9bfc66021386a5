#pragma once

#include <QString>

#include <functional>

namespace orvane {

// Announces the listener on the local network as a DNS-SD service.
class ServiceAdvertiser {
public:
    virtual ~ServiceAdvertiser() = default;

    // Starts (or moves) the advertisement of `type` under `name` on `port`,
    // with no TXT record. Safe to call again, e.g. after a listener restart.
    virtual void publish(const QString& name, const QString& type, quint16 port) = 0;
    virtual void withdraw() = 0;

    // The name actually in use (another may have been taken on a collision),
    // or empty while nothing is registered. Called on the main thread.
    std::function<void(const QString& registeredName)> onRegistered;
};

} // namespace orvane

#pragma once

#include "activity.h"
#include "phone_session.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

namespace orvane {

// What the server's parts (pairing, routing, pushed updates, screen sharing,
// relay links) need of the registry of connections: sending, closing, the
// authenticated phones and the activity log. They hold this, never the
// server itself, so each can be built on a small stand-in.
class ConnectionHub : public QObject {
    Q_OBJECT
public:
    using Device = PhoneDevice;
    using DeviceList = std::vector<Device>;

    using QObject::QObject;

    virtual const QString& computerName() const = 0;
    // In the order they authenticated.
    virtual const DeviceList& devices() const = 0;
    bool isAuthenticated(const Uuid& id) const;
    // Empty for a connection that has not authenticated.
    QString deviceName(const Uuid& id) const;
    // Null once the connection has left.
    virtual PhoneSession* session(const Uuid& id) const = 0;
    // Every open connection's, in no particular order.
    virtual std::vector<PhoneSession*> sessions() const = 0;
    std::shared_ptr<FramedConnection> connection(const Uuid& id) const;

    virtual void sendMessage(const OrvaneMessage& message, const Uuid& id) = 0;
    // The handshake messages that travel as plain frames even with keys.
    virtual void sendPlain(const OrvaneMessage& message, const Uuid& id) = 0;
    // To every authenticated connection.
    void broadcast(const OrvaneMessage& message);
    virtual void closeConnection(const Uuid& id) = 0;
    // Every connection of one phone, open or in a handshake, but `except`.
    virtual void closeConnectionsOf(const Uuid& deviceID, const Uuid& except = {}) = 0;
    virtual void addActivity(const QString& text, const QString& device, bool success) = 0;

    // The handshake's outcome: the connection's keys, then its phone.
    virtual void installSession(const Uuid& id, const SessionKeys& keys) = 0;
    virtual void addDevice(Device device) = 0;

    // A connection started elsewhere (a relay link a phone joined), which
    // keeps its own state handler and calls removeConnection when it ends.
    virtual void registerConnection(std::shared_ptr<FramedConnection> connection,
                                    const Uuid& id) = 0;
    virtual void removeConnection(const Uuid& id) = 0;

Q_SIGNALS:
    // Once per connection, as it leaves the registry; whatever a part keeps
    // for it goes now.
    void connectionClosed(const Uuid& id);
};

} // namespace orvane

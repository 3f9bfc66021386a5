#include "connection_hub.h"

#include <algorithm>

namespace orvane {

bool ConnectionHub::isAuthenticated(const Uuid& id) const
{
    const DeviceList& list = devices();
    return std::any_of(list.begin(), list.end(), [&](const Device& d) { return d.id == id; });
}

QString ConnectionHub::deviceName(const Uuid& id) const
{
    for (const Device& device : devices())
        if (device.id == id)
            return device.name;
    return {};
}

std::shared_ptr<FramedConnection> ConnectionHub::connection(const Uuid& id) const
{
    PhoneSession* found = session(id);
    return found ? found->sharedConnection() : nullptr;
}

void ConnectionHub::broadcast(const OrvaneMessage& message)
{
    for (const Device& device : devices())
        sendMessage(message, device.id);
}

} // namespace orvane

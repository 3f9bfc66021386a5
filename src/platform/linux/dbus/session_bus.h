#pragma once

#include <QDBusConnection>

namespace orvane {

// The desktop session's bus, for the backends that call services on it.
// Qt's own session bus connection stays disconnected for good once the bus
// daemon goes away; this one connects anew on the next call after the bus
// came back at its address, so media and the screen saver work again
// without a restart.
QDBusConnection sessionBus();

// Whether a call's reply says the service is not there: no bus, nobody owns
// the name, or no answer in time; a refusal by the service itself is not.
bool nobodyAnswered(const QDBusMessage& reply);

} // namespace orvane

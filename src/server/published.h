#pragma once

#include <QObject>

#include <utility>

namespace orvane {

// Published fields notify only when their value really changes.
template <class Server, class T, class Signal>
bool publish(Server* server, T& field, T value, Signal changed)
{
    if (field == value)
        return false;
    field = std::move(value);
    Q_EMIT(server->*changed)();
    return true;
}

} // namespace orvane

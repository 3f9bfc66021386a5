#pragma once

// GET /status on a listener of its own: the relay's figures as JSON, for
// whoever runs it. Few connections at once, a small read buffer and a
// deadline each, so that the figures cannot be used to wear the relay down.
#include "relay_options.h"

#include <QHttpServer>
#include <QJsonObject>

#include <functional>

namespace orvane::relay {

class StatusServer {
public:
    explicit StatusServer(std::function<QJsonObject()> figures);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    bool listen(const Endpoint& endpoint, QString* error);
    quint16 port() const;

private:
    QHttpServer m_http;
    class Listener;
    Listener* m_listener;
};

} // namespace orvane::relay

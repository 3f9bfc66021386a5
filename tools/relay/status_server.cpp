#include "status_server.h"

#include <QHttpServerResponse>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

namespace orvane::relay {

namespace {

constexpr int maxConnections = 16;
constexpr qint64 readBufferBytes = 16 * 1024;
constexpr int connectionDeadlineMs = 10'000;

} // namespace

class StatusServer::Listener final : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (m_open >= maxConnections) {
            ::close(static_cast<int>(descriptor));
            return;
        }
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(static_cast<int>(descriptor));
            delete socket;
            return;
        }
        socket->setReadBufferSize(readBufferBytes);
        ++m_open;
        QObject::connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        // Kept-alive or stalled, a status connection ends after the deadline.
        QTimer::singleShot(connectionDeadlineMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        addPendingConnection(socket);
    }

private:
    int m_open = 0;
};

StatusServer::StatusServer(std::function<QJsonObject()> figures) : m_listener(new Listener(&m_http))
{
    m_http.route(QStringLiteral("/status"), QHttpServerRequest::Method::Get,
                 [figures = std::move(figures)] { return QHttpServerResponse(figures()); });
}

StatusServer::~StatusServer() = default;

bool StatusServer::listen(const Endpoint& endpoint, QString* error)
{
    if (!m_listener->listen(endpoint.address, endpoint.port)) {
        if (error)
            *error = m_listener->errorString();
        return false;
    }
    m_http.bind(m_listener);
    return true;
}

quint16 StatusServer::port() const
{
    return m_listener->serverPort();
}

} // namespace orvane::relay

#pragma once

// A member of a relay room as a test sees it: a QWebSocket that records
// every message in the order it came, and how it was closed; and one HTTP
// GET for the status pages.
#include "support/pump.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>
#include <QWebSocket>

#include <algorithm>
#include <memory>
#include <vector>

namespace orvane::relay::test {

struct Received {
    bool text = false;
    QByteArray bytes;

    bool operator==(const Received&) const = default;
};

inline Received textMessage(const char* text)
{
    return {true, QByteArray(text)};
}

inline Received binaryMessage(const QByteArray& bytes)
{
    return {false, bytes};
}

// 64 lower-case hex characters made from a name, so that tests can speak of
// rooms by name.
inline QString roomId(const QString& name)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex());
}

class TestClient {
public:
    explicit TestClient(const QUrl& url) : TestClient(QNetworkRequest(url)) {}
    // With the request's headers, X-Real-IP say.
    explicit TestClient(const QNetworkRequest& request)
    {
        QObject::connect(&socket, &QWebSocket::connected, [this] { open = true; });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            received.push_back({true, text.toUtf8()});
        });
        QObject::connect(&socket, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray& bytes) {
                             received.push_back({false, bytes});
                         });
        // The test relay's certificate is made up on the spot.
        QObject::connect(&socket, &QWebSocket::sslErrors, [this] { socket.ignoreSslErrors(); });
        socket.open(request);
    }

    bool waitOpen()
    {
        return orvane::test::pumpUntil([this] { return open || closed; }, 5000) && open;
    }
    bool waitClosed(int timeoutMs = 5000)
    {
        return orvane::test::pumpUntil([this] { return closed; }, timeoutMs);
    }
    bool waitReceived(std::size_t count, int timeoutMs = 5000)
    {
        return orvane::test::pumpUntil([this, count] { return received.size() >= count; },
                                       timeoutMs);
    }
    // A "ping" answered means the relay has dealt with everything sent before.
    bool roundTrip()
    {
        auto pongs = [this] { return std::ranges::count(received, textMessage("pong")); };
        const auto before = pongs();
        socket.sendTextMessage(QStringLiteral("ping"));
        return orvane::test::pumpUntil([&] { return pongs() > before; }, 5000);
    }

    QWebSocket socket;
    std::vector<Received> received;
    bool open = false;
    bool closed = false;
};

struct HttpAnswer {
    int status = 0; // 0: no answer
    QByteArray body;
};

inline HttpAnswer httpGet(const QUrl& url)
{
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    HttpAnswer answer;
    if (orvane::test::pumpUntil([&] { return reply->isFinished(); }, 10'000))
        answer = {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                  reply->readAll()};
    return answer;
}

} // namespace orvane::relay::test

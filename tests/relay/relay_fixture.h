#pragma once

// An orvane-relay in this process on a loopback port, with its log kept, and
// members joining its rooms.
#include "relay/relay_service.h"
#include "relay_client.h"

#include <gtest/gtest.h>

#include <memory>

namespace orvane::relay::test {

class RelayTest : public ::testing::Test {
protected:
    RelayTest() { options.listen = Endpoint{QHostAddress(QHostAddress::LocalHost), 0}; }

    // Starts the relay with `options` as the test has set them.
    void start(std::optional<QSslConfiguration> tls = std::nullopt)
    {
        relay = std::make_unique<RelayService>(options, std::move(tls),
                                               [this](const QString& line) { log << line; });
        QString error;
        ASSERT_TRUE(relay->listen(&error)) << error.toStdString();
    }

    QUrl url(const QString& path, const char* scheme = "ws") const
    {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                        .arg(QLatin1String(scheme))
                        .arg(relay->port())
                        .arg(path));
    }

    QUrl roomUrl(const char* room, const char* role, const char* scheme = "ws") const
    {
        return url(QStringLiteral("/v1/room/%1?role=%2")
                       .arg(roomId(QLatin1String(room)), QLatin1String(role)),
                   scheme);
    }

    // A member that has joined; the relay has seated it once it is open.
    std::unique_ptr<TestClient> join(const char* room, const char* role, const char* scheme = "ws")
    {
        auto client = std::make_unique<TestClient>(roomUrl(room, role, scheme));
        EXPECT_TRUE(client->waitOpen()) << role << " could not join " << room;
        return client;
    }

    // The mac, then the phone, of one room.
    std::pair<std::unique_ptr<TestClient>, std::unique_ptr<TestClient>>
    joinRoom(const char* room, const char* scheme = "ws")
    {
        auto mac = join(room, "mac", scheme);
        return {std::move(mac), join(room, "phone", scheme)};
    }

    qint64 refusals(Refusal refusal) const
    {
        return relay->figures().counters.refusals[static_cast<std::size_t>(refusal)];
    }

    RelayOptions options;
    std::unique_ptr<RelayService> relay;
    QStringList log;
};

} // namespace orvane::relay::test

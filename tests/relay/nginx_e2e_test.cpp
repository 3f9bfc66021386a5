// Two orvane-relay programs behind Debian's nginx, configured with the very
// block that docs/relay.md gives: the members of a room always meet, wherever
// the hash of its path sends them.
#include "relay_client.h"
#include "relay_process.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace orvane::relay::test {
namespace {

QString documentedNginxBlock()
{
    QFile doc(QStringLiteral(ORVANE_RELAY_DOC));
    if (!doc.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(doc.readAll());
    const QString open = QStringLiteral("```nginx\n");
    const qsizetype start = text.indexOf(open);
    const qsizetype end = text.indexOf(QStringLiteral("\n```"), start + 1);
    return start < 0 || end < 0 ? QString()
                                : text.mid(start + open.size(), end - start - open.size());
}

// The documented site on a loopback port, in plain HTTP, in front of the two
// test relays; empty when the documented block no longer has what it changes.
QString siteFor(QString block, quint16 listenPort, quint16 relayA, quint16 relayB)
{
    const QStringList expected = {
        QStringLiteral("    listen 443 ssl;\n"),  QStringLiteral("    listen [::]:443 ssl;\n"),
        QStringLiteral("server 127.0.0.1:8471;"), QStringLiteral("server 127.0.0.1:8472;"),
        QStringLiteral("hash $uri consistent;"),
    };
    for (const QString& piece : expected) {
        if (!block.contains(piece))
            return {};
    }
    block.replace(expected[0], QStringLiteral("    listen 127.0.0.1:%1;\n").arg(listenPort));
    block.replace(expected[1], QString());
    block.replace(expected[2], QStringLiteral("server 127.0.0.1:%1;").arg(relayA));
    block.replace(expected[3], QStringLiteral("server 127.0.0.1:%1;").arg(relayB));
    block.remove(QRegularExpression(QStringLiteral("\\n *ssl_certificate[^\\n]*")));
    return block;
}

// nginx as this user, in the foreground, with everything under `prefix`.
QString nginxConfig(const QString& site, const QString& prefix)
{
    QString config = QStringLiteral("daemon off;\nmaster_process off;\n"
                                    "error_log %1/error.log;\npid %1/nginx.pid;\n"
                                    "events { worker_connections 512; }\nhttp {\n"
                                    "access_log off;\n")
                         .arg(prefix);
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        config += QStringLiteral("%1_temp_path %2/%1;\n").arg(QLatin1String(temp), prefix);
    return config + site + QStringLiteral("}\n");
}

bool acceptsConnections(quint16 port)
{
    return orvane::test::pumpUntil(
        [port] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200);
        },
        10'000);
}

int roomsOn(const RelayProcess& relay)
{
    const HttpAnswer answer =
        httpGet(QUrl(QStringLiteral("http://127.0.0.1:%1/status").arg(relay.statusPort)));
    return QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("rooms")).toInt(-1);
}

TEST(RelayBehindNginx, BothMembersOfEveryRoomMeet)
{
    const QString nginx = QStandardPaths::findExecutable(
        QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    ASSERT_FALSE(nginx.isEmpty()) << "nginx is one of ORVANE_TEST_PACKAGES";
    // As docs/relay.md runs them: nginx's X-Real-IP names the client.
    const QStringList behindNginx = {QStringLiteral("--trusted-proxy"),
                                     QStringLiteral("127.0.0.1")};
    RelayProcess first(behindNginx);
    RelayProcess second(behindNginx);
    ASSERT_TRUE(first.port && second.port && first.statusPort && second.statusPort);
    QTemporaryDir dir;
    const quint16 port = freePort();
    const QString site = siteFor(documentedNginxBlock(), port, first.port, second.port);
    ASSERT_FALSE(site.isEmpty()) << "docs/relay.md no longer has the nginx block this test runs";
    QFile config(dir.filePath(QStringLiteral("nginx.conf")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(nginxConfig(site, dir.path()).toUtf8());
    config.close();
    Child server(nginx, {QStringLiteral("-p"), dir.path() + QLatin1Char('/'), QStringLiteral("-c"),
                         config.fileName(), QStringLiteral("-e"),
                         dir.filePath(QStringLiteral("error.log"))});
    ASSERT_TRUE(acceptsConnections(port)) << server.output().toStdString();

    constexpr int rooms = 50;
    auto address = [port](int room, const char* role) {
        return QUrl(QStringLiteral("ws://127.0.0.1:%1/v1/room/%2?role=%3")
                        .arg(port)
                        .arg(roomId(QStringLiteral("nginx %1").arg(room)), QLatin1String(role)));
    };
    std::vector<std::unique_ptr<TestClient>> macs;
    std::vector<std::unique_ptr<TestClient>> phones;
    for (int room = 0; room < rooms; ++room)
        macs.push_back(std::make_unique<TestClient>(address(room, "mac")));
    for (const auto& mac : macs)
        ASSERT_TRUE(mac->waitOpen());
    for (int room = 0; room < rooms; ++room) {
        phones.push_back(std::make_unique<TestClient>(address(room, "phone")));
        TestClient* phone = phones.back().get();
        QObject::connect(&phone->socket, &QWebSocket::connected, [phone, room] {
            phone->socket.sendBinaryMessage(QByteArray::number(room));
        });
    }
    for (int room = 0; room < rooms; ++room) {
        TestClient& mac = *macs[static_cast<std::size_t>(room)];
        ASSERT_TRUE(mac.waitReceived(2)) << "room " << room;
        EXPECT_EQ(mac.received,
                  (std::vector{textMessage("peer:on"), binaryMessage(QByteArray::number(room))}))
            << "room " << room;
    }
    // The hash spread the rooms over both relays, and still every pair met.
    const int onFirst = roomsOn(first);
    const int onSecond = roomsOn(second);
    EXPECT_EQ(onFirst + onSecond, rooms);
    EXPECT_GT(onFirst, 0);
    EXPECT_GT(onSecond, 0);

    // nginx answers anything but a room itself.
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    EXPECT_EQ(httpGet(QUrl(base + QStringLiteral("/"))).status, 404);
    EXPECT_EQ(httpGet(QUrl(base + QStringLiteral("/v1/room/abc?role=mac"))).status, 404);
    TestClient stray(QUrl(QStringLiteral("ws://127.0.0.1:%1/v1/room/%2/?role=mac")
                              .arg(port)
                              .arg(roomId(QStringLiteral("nginx 0")))));
    EXPECT_FALSE(stray.waitOpen());
}

} // namespace
} // namespace orvane::relay::test

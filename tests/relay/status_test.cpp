// The status page, the log and the TLS files.
#include "relay/status_server.h"
#include "relay/tls_config.h"
#include "relay_fixture.h"

#include <QJsonDocument>
#include <QTemporaryDir>

namespace orvane::relay::test {
namespace {

// The figures as JSON on a listener of their own; in the log one line per
// join and leave, with a short room name, and never a payload.
TEST_F(RelayTest, StatusServesTheFiguresAndTheLogHasJoinsAndLeavesButNoPayload)
{
    start();
    StatusServer status([this] { return statusJson(relay->figures()); });
    QString error;
    ASSERT_TRUE(status.listen(Endpoint{QHostAddress(QHostAddress::LocalHost), 0}, &error))
        << error.toStdString();
    const QByteArray secret = "SECRET-PAYLOAD-7f3a";
    auto [mac, phone] = joinRoom("a");
    auto lonely = join("b", "mac");
    phone->socket.sendBinaryMessage(secret);
    phone->socket.sendTextMessage(QString::fromLatin1(secret));
    mac->socket.sendBinaryMessage(secret);
    lonely->socket.sendBinaryMessage(QByteArray(7, 'l'));
    TestClient stray(url(QStringLiteral("/elsewhere")));
    ASSERT_TRUE(stray.waitClosed());
    EXPECT_EQ(stray.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    ASSERT_TRUE(mac->waitReceived(2) && phone->waitReceived(1) && lonely->roundTrip());

    const HttpAnswer answer =
        httpGet(QUrl(QStringLiteral("http://127.0.0.1:%1/status").arg(status.port())));
    ASSERT_EQ(answer.status, 200);
    const QJsonObject json = QJsonDocument::fromJson(answer.body).object();
    EXPECT_EQ(json.value(QStringLiteral("rooms")).toInt(), 2);
    EXPECT_EQ(json.value(QStringLiteral("members")).toInt(), 3);
    EXPECT_EQ(json.value(QStringLiteral("bytesForwarded")).toInt(), 2 * secret.size());
    EXPECT_EQ(json.value(QStringLiteral("bytesDropped")).toInt(), 7);
    const QJsonObject refused = json.value(QStringLiteral("refusals")).toObject();
    EXPECT_EQ(refused.value(QStringLiteral("badAddress")).toInt(), 1);
    EXPECT_EQ(refused.size(), static_cast<qsizetype>(refusalCount));
    EXPECT_EQ(httpGet(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(status.port()))).status, 404);

    phone->socket.close();
    ASSERT_TRUE(mac->waitReceived(3));
    mac->socket.close();
    ASSERT_TRUE(orvane::test::pumpUntil([this] { return relay->figures().members == 1; }));
    const QString a = roomId(QStringLiteral("a")), b = roomId(QStringLiteral("b"));
    const QStringList expected = {
        QStringLiteral("room %1 mac join (1 rooms, 1 members)").arg(a.left(8)),
        QStringLiteral("room %1 phone join (1 rooms, 2 members)").arg(a.left(8)),
        QStringLiteral("room %1 mac join (2 rooms, 3 members)").arg(b.left(8)),
        QStringLiteral("room %1 phone leave: closed (2 rooms, 2 members)").arg(a.left(8)),
        QStringLiteral("room %1 mac leave: closed (1 rooms, 1 members)").arg(a.left(8)),
    };
    EXPECT_EQ(log, expected);
}

TEST(RelayTls, UnreadableOrWrongFilesAreReportedInOneLine)
{
    QTemporaryDir dir;
    const QString garbage = dir.filePath(QStringLiteral("garbage.pem"));
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("not a certificate\n") > 0);
    file.close();
    for (const QString& cert : {dir.filePath(QStringLiteral("missing.pem")), garbage}) {
        QString error;
        EXPECT_FALSE(loadTlsConfiguration(cert, garbage, &error));
        EXPECT_TRUE(error.contains(cert) && !error.contains(QLatin1Char('\n')))
            << error.toStdString();
    }
}

} // namespace
} // namespace orvane::relay::test

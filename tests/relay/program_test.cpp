// The orvane-relay program itself: its command line, its log on standard
// error, and how it stops.
#include "relay_client.h"
#include "relay_process.h"

namespace orvane::relay::test {
namespace {

TEST(RelayProgram, AnswersHelpAndVersionAndRefusesBadOptionsInOneLine)
{
    // The arguments, the exit code and the whole output (or any one line).
    const std::tuple<QStringList, int, QString> cases[] = {
        {{QStringLiteral("--version")}, 0, QStringLiteral("orvane-relay %1\n").arg(ORVANE_VERSION)},
        {QStringLiteral("--max-rooms 0").split(' '), 2,
         QStringLiteral("orvane-relay: --max-rooms takes a whole number of at least 1, not \"0\" "
                        "(see --help)\n")},
        {QStringLiteral("--cert /nonexistent/cert.pem --key /nonexistent/key.pem").split(' '), 2,
         QString()},
    };
    for (const auto& [arguments, exitCode, output] : cases) {
        Child program(QStringLiteral(ORVANE_RELAY_PATH), arguments);
        EXPECT_EQ(program.wait(), exitCode) << arguments.join(QLatin1Char(' ')).toStdString();
        if (!output.isEmpty())
            EXPECT_EQ(program.output(), output);
        else
            EXPECT_EQ(program.output().count(QLatin1Char('\n')), 1)
                << program.output().toStdString();
    }
    Child help(QStringLiteral(ORVANE_RELAY_PATH), {QStringLiteral("--help")});
    EXPECT_EQ(help.wait(), 0);
    for (const char* option :
         {"--listen", "--cert", "--key", "--status", "--max-message", "--max-buffered",
          "--max-buffered-total", "--room-rate", "--global-rate", "--idle-timeout",
          "--handshake-timeout", "--max-rooms", "--max-pending", "--max-pending-per-address",
          "--max-rooms-per-address", "--trusted-proxy"})
        EXPECT_TRUE(help.output().contains(QLatin1String(option))) << option;
}

TEST(RelayProgram, LogsJoinsAndStopsOnSigtermClosingMembersWithGoingAway)
{
    RelayProcess relay;
    ASSERT_NE(relay.port, 0) << relay.child.output().toStdString();
    const QString room = roomId(QStringLiteral("program"));
    TestClient mac(
        QUrl(QStringLiteral("ws://127.0.0.1:%1/v1/room/%2?role=mac").arg(relay.port).arg(room)));
    ASSERT_TRUE(mac.waitOpen());
    mac.socket.sendBinaryMessage("PAYLOAD-NEVER-LOGGED");
    ASSERT_TRUE(mac.roundTrip());
    EXPECT_EQ(relay.child.stop(), 0);
    ASSERT_TRUE(mac.waitClosed());
    EXPECT_EQ(mac.socket.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
    EXPECT_EQ(mac.socket.closeReason(), QStringLiteral("relay stopping"));
    const QString output = relay.child.output();
    EXPECT_TRUE(output.contains(QStringLiteral("orvane-relay: room %1 mac join").arg(room.left(8))))
        << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("mac leave: relay stopping")));
    EXPECT_FALSE(output.contains(QStringLiteral("PAYLOAD")));
}

} // namespace
} // namespace orvane::relay::test

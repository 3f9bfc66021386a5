// The relay's pure parts: room addresses, the rate bucket and the command line.
#include "protocol/relay.h"
#include "relay/relay_options.h"
#include "relay/room_address.h"
#include "relay/token_bucket.h"

#include <gtest/gtest.h>

namespace orvane::relay {
namespace {

const QString room =
    QStringLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");

TEST(RoomAddress, OnlyTheExactFormNamesARoom)
{
    struct Case {
        QString address;
        std::optional<Role> role; // absent: refused
    };
    const std::vector<Case> cases = {
        {QStringLiteral("ws://h/v1/room/%1?role=mac").arg(room), Role::mac},
        {QStringLiteral("wss://h:9/v1/room/%1?role=phone").arg(room), Role::phone},
        {QStringLiteral("ws://h/v1/room/%1?role=phone&role=mac").arg(room), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1?role=mac&x=1").arg(room), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1?role=MAC").arg(room), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1?Role=mac").arg(room), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1").arg(room), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1/?role=mac").arg(room), std::nullopt},
        {QStringLiteral("ws://h/v1/room//%1?role=mac").arg(room.mid(1)), std::nullopt},
        {QStringLiteral("ws://h/v1/rooms/%1?role=mac").arg(room), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1?role=mac").arg(room.left(63)), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1?role=mac").arg(room + QLatin1Char('0')), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1?role=mac").arg(room.toUpper()), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1g?role=mac").arg(room.left(63)), std::nullopt},
        {QStringLiteral("ws://h/v1/room/%1%20?role=mac").arg(room.left(63)), std::nullopt},
        {QStringLiteral("ws://h/x/v1/room/%1?role=mac").arg(room), std::nullopt},
        {QStringLiteral("ws://h\x01/v1/room/%1?role=mac").arg(room), std::nullopt}, // bad Host
    };
    for (const Case& c : cases) {
        const auto address = parseRoomAddress(QUrl(c.address));
        ASSERT_EQ(address.has_value(), c.role.has_value()) << c.address.toStdString();
        if (address) {
            EXPECT_EQ(address->room, room.toStdString());
            EXPECT_EQ(address->role, *c.role);
        }
    }
}

TEST(TokenBucket, ADebtIsPaidByWaiting)
{
    // 1000 bytes per second, a burst of 500, starting full at t = 0.
    struct Step {
        qint64 atMs;
        qint64 bytes;
        qint64 waitMs;
    };
    const std::vector<Step> steps = {
        {0, 500, 0},                       // the burst
        {0, 100, 100},                     // 100 bytes of debt: 100 ms
        {100, 0, 0},                       // paid off
        {100, 1000, 1000}, {600, 0, 500},  // half paid
        {5000, 0, 0},                      // refilled, and never past the burst:
        {5000, 600, 100},  {4000, 0, 100}, // a clock that steps back refills nothing
    };
    TokenBucket bucket(1000, 500, 0);
    for (const Step& step : steps)
        EXPECT_EQ(bucket.spend(step.bytes, step.atMs), step.waitMs) << "at " << step.atMs;
}

TEST(TokenBucket, TheBurstIsAQuarterSecondAndAtLeastOneMessage)
{
    EXPECT_EQ(burstFor(8 << 20, 262'144), 2 << 20);
    EXPECT_EQ(burstFor(4096, 262'144), 262'144);
}

ParsedArguments parse(QStringList arguments)
{
    arguments.prepend(QStringLiteral("orvane-relay"));
    return parseRelayArguments(arguments);
}

TEST(RelayOptions, DefaultsFitTheProtocol)
{
    const ParsedArguments parsed = parse({});
    ASSERT_TRUE(parsed.error.isEmpty());
    const RelayOptions& options = parsed.options;
    EXPECT_EQ(options.maxMessageBytes, static_cast<qint64>(relayChunkSize));
    EXPECT_EQ(options.listen.address, QHostAddress(QHostAddress::LocalHost));
    EXPECT_FALSE(options.status);
    EXPECT_FALSE(options.tls());
    EXPECT_GE(options.maxBufferedBytes, options.maxMessageBytes);
    EXPECT_GE(options.maxBufferedTotalBytes, options.maxBufferedBytes);
    // The computer pings every 30 s: two pings may go missing.
    EXPECT_GT(options.idleTimeout.count(), 60'000);
}

TEST(RelayOptions, EachOptionIsReadOrRefusedInOneLine)
{
    struct Case {
        QStringList arguments;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {{QStringLiteral("--listen"), QStringLiteral("0.0.0.0:443")}, true},
        {{QStringLiteral("--listen"), QStringLiteral("[::]:8470")}, true},
        {{QStringLiteral("--listen"), QStringLiteral("::1:8470")}, false},
        {{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:65536")}, false},
        {{QStringLiteral("--listen"), QStringLiteral("localhost:80")}, false},
        {{QStringLiteral("--status"), QStringLiteral("127.0.0.1:9000")}, true},
        {{QStringLiteral("--status"), QStringLiteral("9000")}, false},
        {{QStringLiteral("--max-message"), QStringLiteral("64K")}, true},
        {{QStringLiteral("--max-message"), QStringLiteral("100")}, false},
        {{QStringLiteral("--max-message"), QStringLiteral("1M"), QStringLiteral("--max-buffered"),
          QStringLiteral("512K")},
         false},
        {{QStringLiteral("--max-message"), QStringLiteral("8M")}, false},
        {{QStringLiteral("--max-buffered"), QStringLiteral("1G")}, false},
        {{QStringLiteral("--room-rate"), QStringLiteral("2M")}, true},
        {{QStringLiteral("--global-rate"), QStringLiteral("-5")}, false},
        {{QStringLiteral("--room-rate"), QStringLiteral("9999999999G")}, false},
        {{QStringLiteral("--idle-timeout"), QStringLiteral("0.5")}, true},
        {{QStringLiteral("--idle-timeout"), QStringLiteral("0")}, false},
        {{QStringLiteral("--handshake-timeout"), QStringLiteral("nan")}, false},
        {{QStringLiteral("--max-rooms"), QStringLiteral("0")}, false},
        {{QStringLiteral("--max-pending"), QStringLiteral("12")}, true},
        {{QStringLiteral("--cert"), QStringLiteral("c.pem")}, false},
        {{QStringLiteral("--cert"), QStringLiteral("c.pem"), QStringLiteral("--key"),
          QStringLiteral("k.pem")},
         true},
        {{QStringLiteral("--no-such-option")}, false},
        {{QStringLiteral("stray")}, false},
    };
    for (const Case& c : cases) {
        const ParsedArguments parsed = parse(c.arguments);
        EXPECT_EQ(parsed.error.isEmpty(), c.accepted)
            << c.arguments.join(QLatin1Char(' ')).toStdString() << ": "
            << parsed.error.toStdString();
        EXPECT_FALSE(parsed.error.contains(QLatin1Char('\n')));
    }
}

TEST(RelayOptions, ValuesLandWhereTheyBelong)
{
    const ParsedArguments parsed =
        parse({QStringLiteral("--listen"), QStringLiteral("[::1]:9001"), QStringLiteral("--status"),
               QStringLiteral("127.0.0.1:9002"), QStringLiteral("--max-buffered"),
               QStringLiteral("2M"), QStringLiteral("--idle-timeout"), QStringLiteral("1.5"),
               QStringLiteral("--max-rooms"), QStringLiteral("7")});
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options.listen.address, QHostAddress(QStringLiteral("::1")));
    EXPECT_EQ(parsed.options.listen.port, 9001);
    ASSERT_TRUE(parsed.options.status);
    EXPECT_EQ(parsed.options.status->port, 9002);
    EXPECT_EQ(parsed.options.maxBufferedBytes, 2 << 20);
    EXPECT_EQ(parsed.options.idleTimeout.count(), 1500);
    EXPECT_EQ(parsed.options.maxRooms, 7);
    EXPECT_EQ(parse({QStringLiteral("--help")}).action, ParsedArguments::Action::help);
    EXPECT_EQ(parse({QStringLiteral("--version")}).action, ParsedArguments::Action::version);
}

} // namespace
} // namespace orvane::relay

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

// The request target as the client sent it.
TEST(RoomAddress, OnlyTheExactFormNamesARoom)
{
    auto parse = [](const char* target, const QString& fill = room) {
        return parseRoomAddress(
            QString::fromLatin1(target).replace(QLatin1String("%1"), fill).toLatin1());
    };
    const auto mac = parse("/v1/room/%1?role=mac");
    const auto phone = parse("/v1/room/%1?role=phone");
    ASSERT_TRUE(mac && phone);
    EXPECT_EQ(mac->room, room.toStdString());
    EXPECT_EQ(phone->room, room.toStdString());
    EXPECT_EQ(mac->role, Role::mac);
    EXPECT_EQ(phone->role, Role::phone);
    for (const char* refused :
         {"/v1/room/%1?role=phone&role=mac", "/v1/room/%1?role=mac&x=1", "/v1/room/%1?role=MAC",
          "/v1/room/%1?role=", "/v1/room/%1?role=computer", "/", "/v1/room/%1?Role=mac",
          "/v1/room/%1", "/v1/room/%1/?role=mac", "/v1/rooms/%1?role=mac", "/x/v1/room/%1?role=mac",
          "ws://h/v1/room/%1?role=mac", "/v1/room/%1?role=%6dac", "/v1/room/%1?role=mac#x", ""})
        EXPECT_FALSE(parse(refused)) << refused;
    const QString shorter = room.left(63);
    for (const QString& notARoom :
         {shorter, room + QLatin1Char('0'), room.toUpper(), shorter + QLatin1Char('g'),
          shorter + QLatin1String("%20"), QLatin1Char('/') + room.mid(1),
          QLatin1String("%30%31") + room.mid(2)}) // "01" percent-encoded
        EXPECT_FALSE(parse("/v1/room/%1?role=mac", notARoom)) << notARoom.toStdString();
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
    // The burst is a quarter second, and never less than one whole message.
    EXPECT_EQ(burstFor(8 << 20, 262'144), 2 << 20);
    EXPECT_EQ(burstFor(4096, 262'144), 262'144);
}

// The options as typed after the program's name, split at spaces.
ParsedArguments parse(const char* typed)
{
    return parseRelayArguments(
        (QStringLiteral("orvane-relay ") + QLatin1String(typed)).split(' ', Qt::SkipEmptyParts));
}

TEST(RelayOptions, EachOptionIsReadOrRefusedInOneLine)
{
    for (const char* accepted :
         {"", "--listen 0.0.0.0:443", "--listen [::]:8470", "--status 127.0.0.1:9000",
          "--max-message 64K", "--room-rate 2M", "--idle-timeout 0.5", "--max-pending 12",
          "--cert c.pem --key k.pem", "--max-rooms-per-address 1000",
          "--trusted-proxy 10.0.0.0/8 --trusted-proxy ::1"})
        EXPECT_EQ(parse(accepted).error.toStdString(), "") << accepted;
    for (const char* refused : {"--listen ::1:8470",
                                "--listen 127.0.0.1:65536",
                                "--listen localhost:80",
                                "--status 9000",
                                "--max-message 100",
                                "--max-message 1M --max-buffered 512K",
                                "--max-message 8M",
                                "--max-buffered 1G",
                                "--global-rate -5",
                                "--room-rate 9999999999G",
                                "--idle-timeout 0",
                                "--handshake-timeout nan",
                                "--max-rooms 0",
                                "--cert c.pem",
                                "--no-such-option",
                                "--max-pending-per-address 0",
                                "--max-rooms-per-address x",
                                "--trusted-proxy localhost",
                                "--trusted-proxy 127.0.0.1/33",
                                "--trusted-proxy ::1 --trusted-proxy 10.0.0.0/",
                                "stray"}) {
        const QString error = parse(refused).error;
        EXPECT_FALSE(error.isEmpty()) << refused;
        EXPECT_FALSE(error.contains(QLatin1Char('\n'))) << refused;
    }
}

TEST(RelayOptions, DefaultsFitTheProtocolAndValuesLandWhereTheyBelong)
{
    const RelayOptions defaults = parse("").options;
    EXPECT_EQ(defaults.maxMessageBytes, static_cast<qint64>(relayChunkSize));
    EXPECT_EQ(defaults.listen.address, QHostAddress(QHostAddress::LocalHost));
    EXPECT_FALSE(defaults.status || defaults.tls());
    EXPECT_GE(defaults.maxBufferedBytes, defaults.maxMessageBytes);
    EXPECT_GE(defaults.maxBufferedTotalBytes, defaults.maxBufferedBytes);
    // The computer pings every 30 s: two pings may go missing.
    EXPECT_GT(defaults.idleTimeout.count(), 60'000);

    const ParsedArguments parsed =
        parse("--listen [::1]:9001 --status 127.0.0.1:9002 --max-buffered 2M --idle-timeout 1.5 "
              "--max-rooms 7 --trusted-proxy 127.0.0.1 --trusted-proxy 2001:db8::/48");
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options.listen.address, QHostAddress(QStringLiteral("::1")));
    EXPECT_EQ(parsed.options.listen.port, 9001);
    ASSERT_TRUE(parsed.options.status);
    EXPECT_EQ(parsed.options.status->port, 9002);
    EXPECT_EQ(parsed.options.maxBufferedBytes, 2 << 20);
    EXPECT_EQ(parsed.options.idleTimeout.count(), 1500);
    EXPECT_EQ(parsed.options.maxRooms, 7);
    EXPECT_EQ(parsed.options.trustedProxies,
              (QList<Subnet>{{QHostAddress(QHostAddress::LocalHost), 32},
                             {QHostAddress(QStringLiteral("2001:db8::")), 48}}));
    EXPECT_EQ(parse("--help").action, ParsedArguments::Action::help);
    EXPECT_EQ(parse("--version").action, ParsedArguments::Action::version);
}

} // namespace
} // namespace orvane::relay

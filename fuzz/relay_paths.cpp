// What reaches the relay from outside: the address of each WebSocket upgrade
// (anyone on the internet), and the command line with the rates its buckets
// then run on. A room address that passes is exactly one canonical form, and
// options that pass give buckets that never hold a lone message.
#include "relay/relay_options.h"
#include "relay/room_address.h"
#include "relay/token_bucket.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

using namespace orvane::relay;

namespace {

bool isLowerHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

void checkAddress(const QByteArray& target)
{
    auto address = parseRoomAddress(target);
    if (!address)
        return;
    if (address->room.size() != 64 ||
        !std::all_of(address->room.begin(), address->room.end(), isLowerHex))
        std::abort();
    // Whoever routes on the path must see the same room the relay seats.
    const QString canonical =
        QStringLiteral("/v1/room/%1?role=%2")
            .arg(QString::fromStdString(address->room), QLatin1String(roleName(address->role)));
    if (QString::fromLatin1(target) != canonical)
        std::abort();
}

void addresses(FuzzedDataProvider& input)
{
    // The upgrade request's target, byte for byte.
    const std::string text = input.ConsumeRemainingBytesAsString();
    checkAddress(QByteArray::fromStdString(text));
}

void spendAlong(FuzzedDataProvider& input, const RelayOptions& options)
{
    const qint64 burst = burstFor(options.roomRate, options.maxMessageBytes);
    TokenBucket room(options.roomRate, burst, 0);
    TokenBucket global(options.globalRate, burstFor(options.globalRate, options.maxMessageBytes),
                       0);
    if (room.spend(options.maxMessageBytes, 0) != 0)
        std::abort(); // one message alone never waits
    qint64 now = 0;
    for (int i = 0; i < 256 && input.remaining_bytes() > 0; ++i) {
        now += input.ConsumeIntegralInRange<qint64>(0, 600'000);
        const qint64 bytes = input.ConsumeIntegralInRange<qint64>(0, options.maxMessageBytes);
        if (room.spend(bytes, now) < 0 || global.spend(bytes, now) < 0)
            std::abort();
    }
}

void commandLine(FuzzedDataProvider& input)
{
    QStringList arguments{QStringLiteral("orvane-relay")};
    const int count = input.ConsumeIntegralInRange(0, 10);
    for (int i = 0; i < count; ++i)
        arguments << QString::fromStdString(input.ConsumeRandomLengthString(48));
    const ParsedArguments parsed = parseRelayArguments(arguments);
    if (parsed.action != ParsedArguments::Action::run || !parsed.error.isEmpty())
        return;
    const RelayOptions& o = parsed.options;
    if (o.maxMessageBytes < 1024 || o.maxMessageBytes > (16 << 20) ||
        o.maxBufferedBytes < o.maxMessageBytes || o.maxBufferedTotalBytes < o.maxBufferedBytes ||
        o.roomRate < 1024 || o.globalRate < 1024 || o.idleTimeout.count() < 10 ||
        o.handshakeTimeout.count() < 10 || o.maxRooms < 1 || o.maxPending < 1)
        std::abort();
    spendAlong(input, o);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool())
        commandLine(input);
    else
        addresses(input);
    return 0;
}

#include "relay_options.h"

#include <QCommandLineParser>

#include <cmath>
#include <limits>

namespace orvane::relay {

namespace {

// The bounds keep every figure meaningful: a message must fit a relay chunk
// of the phone's protocol at the small end and a read buffer at the large
// one, and a rate below 1 KiB/s would hold one message for minutes.
constexpr qint64 smallestMessage = 1024;
constexpr qint64 largestMessage = 16 << 20;
constexpr qint64 smallestRate = 1024;

struct Option {
    const char* name;
    const char* valueName;
    const char* description;
};

const Option optionTable[] = {
    {"listen", "ADDR:PORT", "Accept rooms on ADDR:PORT (default 127.0.0.1:8470)."},
    {"cert", "FILE", "Serve wss:// with this PEM certificate chain (needs --key)."},
    {"key", "FILE", "The PEM private key of --cert."},
    {"status", "ADDR:PORT", "Serve /status as JSON on a separate listener (default: off)."},
    {"max-message", "BYTES", "Largest message a member may send (default 256K)."},
    {"max-buffered", "BYTES",
     "Bytes waiting for one member before it is closed as too slow (default 4M)."},
    {"max-buffered-total", "BYTES",
     "The same over all members; the slowest is closed past it (default 256M)."},
    {"room-rate", "BYTES", "Bytes per second one room may send (default 8M)."},
    {"global-rate", "BYTES", "Bytes per second the whole relay reads (default 128M)."},
    {"idle-timeout", "SECONDS", "Close a member that sends nothing this long (default 90)."},
    {"handshake-timeout", "SECONDS",
     "Time for TLS and the WebSocket upgrade of a new connection (default 10)."},
    {"max-rooms", "N", "Most rooms at once (default 1000)."},
    {"max-pending", "N", "Most connections in their handshake at once (default 128)."},
    {"max-pending-per-address", "N",
     "The same from one address or IPv6 /64 (default 16, generous: phones behind a carrier's "
     "NAT share one address)."},
    {"max-rooms-per-address", "N",
     "Most rooms opened from one address or IPv6 /64 at once (default 64, as generous)."},
    {"trusted-proxy", "ADDR[/BITS]",
     "Count a connection from this reverse proxy against the address in its X-Real-IP header; "
     "may be repeated (default: none)."},
};

class Reader {
public:
    explicit Reader(const QCommandLineParser& parser) : m_parser(parser) {}

    QString error() const { return m_error; }

    void endpoint(const char* name, Endpoint& into)
    {
        if (!isSet(name))
            return;
        if (auto endpoint = parseEndpoint(value(name)))
            into = *endpoint;
        else
            fail(name, "an address and a port, such as 127.0.0.1:8470 or [::]:8470");
    }

    void bytes(const char* name, qint64& into, qint64 low, qint64 high)
    {
        if (!isSet(name))
            return;
        auto parsed = parseByteCount(value(name));
        if (parsed && *parsed >= low && *parsed <= high)
            into = *parsed;
        else
            fail(name,
                 QStringLiteral("a byte count from %1 to %2 (K, M, G allowed)").arg(low).arg(high));
    }

    void count(const char* name, int& into)
    {
        if (!isSet(name))
            return;
        bool ok = false;
        const int parsed = value(name).toInt(&ok);
        if (ok && parsed >= 1)
            into = parsed;
        else
            fail(name, "a whole number of at least 1");
    }

    void subnets(const char* name, QList<Subnet>& into)
    {
        for (const QString& text : m_parser.values(QLatin1String(name))) {
            if (auto subnet = parseSubnet(text))
                into.append(*subnet);
            else
                fail(name, "an address or a subnet, such as 127.0.0.1 or 10.0.0.0/8", text);
        }
    }

    void seconds(const char* name, std::chrono::milliseconds& into)
    {
        if (!isSet(name))
            return;
        bool ok = false;
        const double parsed = value(name).toDouble(&ok);
        if (ok && std::isfinite(parsed) && parsed >= 0.01 && parsed <= 86'400)
            into = std::chrono::milliseconds(std::llround(parsed * 1000));
        else
            fail(name, "a number of seconds from 0.01 to 86400");
    }

private:
    bool isSet(const char* name) const { return m_parser.isSet(QLatin1String(name)); }
    QString value(const char* name) const { return m_parser.value(QLatin1String(name)); }

    void fail(const char* name, const QString& expected, const QString& given = {})
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("--%1 takes %2, not \"%3\"")
                          .arg(QLatin1String(name), expected, given.isNull() ? value(name) : given);
    }

    const QCommandLineParser& m_parser;
    QString m_error;
};

QString readOptions(const QCommandLineParser& parser, RelayOptions& options)
{
    Reader read(parser);
    read.endpoint("listen", options.listen);
    if (parser.isSet(QStringLiteral("status"))) {
        options.status = Endpoint{};
        read.endpoint("status", *options.status);
    }
    read.bytes("max-message", options.maxMessageBytes, smallestMessage, largestMessage);
    const qint64 most = std::numeric_limits<qint64>::max() / 2;
    read.bytes("max-buffered", options.maxBufferedBytes, options.maxMessageBytes, most);
    read.bytes("max-buffered-total", options.maxBufferedTotalBytes, options.maxBufferedBytes, most);
    read.bytes("room-rate", options.roomRate, smallestRate, most);
    read.bytes("global-rate", options.globalRate, smallestRate, most);
    read.seconds("idle-timeout", options.idleTimeout);
    read.seconds("handshake-timeout", options.handshakeTimeout);
    read.count("max-rooms", options.maxRooms);
    read.count("max-pending", options.maxPending);
    read.count("max-pending-per-address", options.maxPendingPerAddress);
    read.count("max-rooms-per-address", options.maxRoomsPerAddress);
    read.subnets("trusted-proxy", options.trustedProxies);
    options.certFile = parser.value(QStringLiteral("cert"));
    options.keyFile = parser.value(QStringLiteral("key"));
    if (!read.error().isEmpty())
        return read.error();
    // A default left in place must still fit the figures given: one member's
    // buffer holds a whole message, and the total holds one member's buffer.
    if (options.maxBufferedBytes < options.maxMessageBytes)
        return QStringLiteral("--max-buffered must be at least --max-message (%1 bytes)")
            .arg(options.maxMessageBytes);
    if (options.maxBufferedTotalBytes < options.maxBufferedBytes)
        return QStringLiteral("--max-buffered-total must be at least --max-buffered (%1 bytes)")
            .arg(options.maxBufferedBytes);
    if (options.certFile.isEmpty() != options.keyFile.isEmpty())
        return QStringLiteral("--cert and --key go together");
    return {};
}

} // namespace

std::optional<Endpoint> parseEndpoint(const QString& text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return std::nullopt; // an IPv6 address needs its brackets
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    QHostAddress address;
    if (!ok || port > 65535 || !address.setAddress(host))
        return std::nullopt;
    return Endpoint{address, static_cast<quint16>(port)};
}

std::optional<qint64> parseByteCount(const QString& text)
{
    QString digits = text;
    qint64 unit = 1;
    const QChar last = text.isEmpty() ? QChar() : text.back().toUpper();
    if (last == QLatin1Char('K') || last == QLatin1Char('M') || last == QLatin1Char('G')) {
        unit = last == QLatin1Char('K') ? 1 << 10 : last == QLatin1Char('M') ? 1 << 20 : 1 << 30;
        digits.chop(1);
    }
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    if (!ok || number < 0 || number > std::numeric_limits<qint64>::max() / unit)
        return std::nullopt;
    return number * unit;
}

std::optional<Subnet> parseSubnet(const QString& text)
{
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    QHostAddress address;
    if (!address.setAddress(text.left(slash)))
        return std::nullopt;
    const int bits = address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    if (slash < 0)
        return Subnet(address, bits);
    bool ok = false;
    const int prefix = text.mid(slash + 1).toInt(&ok);
    if (!ok || prefix < 0 || prefix > bits)
        return std::nullopt;
    return Subnet(address, prefix);
}

ParsedArguments parseRelayArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "orvane-relay joins a computer and a phone in a room and passes their messages on."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    for (const Option& option : optionTable)
        parser.addOption(QCommandLineOption(QLatin1String(option.name),
                                            QLatin1String(option.description),
                                            QLatin1String(option.valueName)));
    ParsedArguments parsed;
    parsed.helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText();
    } else if (!parser.positionalArguments().isEmpty()) {
        parsed.error = QStringLiteral("unexpected argument \"%1\"")
                           .arg(parser.positionalArguments().constFirst());
    } else if (parser.isSet(help)) {
        parsed.action = ParsedArguments::Action::help;
    } else if (parser.isSet(version)) {
        parsed.action = ParsedArguments::Action::version;
    } else {
        parsed.error = readOptions(parser, parsed.options);
    }
    return parsed;
}

} // namespace orvane::relay

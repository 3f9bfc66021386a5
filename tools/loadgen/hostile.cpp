#include "hostile.h"

#include "phone/phone_client.h"
#include "protocol/frame.h"
#include "protocol/random.h"
#include "protocol/relay.h"
#include "protocol/secure_session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

namespace orvane::loadgen {

namespace {

Bytes text(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

Bytes framed(std::uint8_t kind, const Bytes& payload)
{
    Bytes out = encodeFrame(FrameKind::message, payload);
    out[4] = kind;
    return out;
}

} // namespace

// Wrong lengths, wrong kinds, wrong JSON, wrong UTF-8, a session record
// with no session, and a header promising more than ever comes.
std::vector<Bytes> hostileOpenings()
{
    return {
        {0, 0, 0, 1, 0},
        {0, 0, 0, 0},
        {0x7f, 0xff, 0xff, 0xff, 0},
        {0x03, 0xd0, 0x90, 0x01, 0}, // 64,000,001
        framed(0x7f, text("unknown kind")),
        framed(0, text("{\"hello\":")),
        framed(0, text("{\"hello\":{\"deviceName\":\"\xff\xfe\",\"deviceID\":\"x\"}}")),
        framed(0, text("[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[")),
        framed(0, text("{\"run\":{\"id\":\"00000000-0000-0000-0000-000000000000\"}}")),
        framed(3, Bytes(40, 0xab)),
        framed(2, Bytes(3, 0)),
        framed(1, Bytes(1000, 0x55)),
        {0, 0, 0x10, 0, 0, 'x'}, // announced 4 KiB, one byte sent
    };
}

HostileFrames::HostileFrames(std::uint16_t port, std::uint64_t count)
    : m_port(port), m_count(count), m_openings(hostileOpenings())
{
    m_thread = std::thread([this] { run(); });
}

HostileFrames::~HostileFrames()
{
    m_stop = true;
    m_thread.join();
}

void HostileFrames::run()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (std::uint64_t i = 0; !m_stop && i < m_count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const Bytes& opening = m_openings[i % m_openings.size()];
            ::send(fd, opening.data(), opening.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
        ++m_sent;
    }
}

RelayGarbage::RelayGarbage(std::string relayBase, std::vector<PhoneIdentity> phones)
    : m_base(std::move(relayBase)), m_phones(std::move(phones))
{
    m_thread = std::thread([this] { run(); });
}

RelayGarbage::~RelayGarbage()
{
    m_stop = true;
    m_thread.join();
}

// One room after the other: join as the phone, pour out malformed frames
// and random bytes in turn for a few seconds, then the next room.
void RelayGarbage::run()
{
    const std::vector<Bytes> openings = hostileOpenings();
    std::mt19937_64 noise(systemRandom().next64());
    Bytes garbage;
    for (std::size_t i = 0; !m_stop; i = (i + 1) % m_phones.size()) {
        phone::PhoneClient client;
        const std::string room = relayRoom(hexDigest(m_phones[i].token));
        if (!client.connectRelay(relayRoomAddress(m_base, room, "phone"), 5'000)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            continue;
        }
        ++m_joined;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!m_stop && std::chrono::steady_clock::now() < until) {
            const std::uint64_t n = m_messages;
            if (n % 2 == 0) {
                garbage = openings[(n / 2) % openings.size()];
            } else {
                garbage.resize(1 + noise() % 4096);
                for (auto& byte : garbage)
                    byte = static_cast<std::uint8_t>(noise());
            }
            if (!client.sendRawBytes(garbage))
                break;
            m_bytes += garbage.size();
            ++m_messages;
        }
        client.close();
    }
}

} // namespace orvane::loadgen

// Both ends of the handshake joined by queues of frames, on a fake clock,
// with the bytes choosing what happens next: a frame delivered, dropped,
// replayed or forged, time passing, the user typing a code or scanning the
// QR code, the phone connecting again. The transparent AEAD of this build
// is given back its one property: a record opens only under the key that
// sealed it. Then the phone is never let in unless the computer let it in,
// it keeps the token the computer trusts, and no handshake waits forever.
#include "protocol/codec.h"
#include "protocol/utf8.h"
#include "support/handshake_loopback.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

using namespace orvane;
using namespace orvane::handshake;
using namespace orvane::loopback;
using Clock = std::int64_t;

namespace {

#define REQUIRE(condition)                                                                         \
    do {                                                                                           \
        if (!(condition))                                                                          \
            std::abort();                                                                          \
    } while (0)

// splitmix64 seeded by the input, so that each input replays exactly.
class SeededRandom final : public RandomSource {
public:
    explicit SeededRandom(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next64() override
    {
        std::uint64_t z = m_state += 0x9e3779b97f4a7c15;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
        z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t m_state;
};

template <class A, class Log> std::size_t count(const Log& log)
{
    return std::count_if(log.begin(), log.end(),
                         [](auto& a) { return std::holds_alternative<A>(a); });
}

class Duel {
public:
    explicit Duel(FuzzedDataProvider& input)
        : m_in(input), m_random(input.ConsumeIntegral<std::uint64_t>()), m_link(m_random)
    {
        m_link.checkComputer = [this](const ComputerActions& actions) { check(actions); };
        m_link.phone.check = [this](const PhoneAction& action) { checkPhone(action); };
        m_link.connect("Ada's phone");
    }
    void step();

private:
    void check(const ComputerActions& actions);
    void checkPhone(const PhoneAction& action);
    void forgeForComputer();
    void forgeForPhone();
    void byPhone(const PhoneActions& actions) { m_link.phone.carryOut(actions); }
    std::optional<std::string> storedHash(const Uuid& id) const;
    Bytes fuzzedKey();

    FuzzedDataProvider& m_in;
    SeededRandom m_random;
    Loopback m_link;
};

std::optional<std::string> Duel::storedHash(const Uuid& id) const
{
    auto found = m_link.trusted.find(id);
    return found == m_link.trusted.end() ? std::nullopt : std::optional(found->second);
}

void Duel::checkPhone(const PhoneAction& action)
{
    if (!std::holds_alternative<Authenticated>(action))
        return;
    // Only a computer that let the phone in welcomes it, and the token the
    // phone keeps is the one the computer trusts.
    REQUIRE(count<Authenticated>(m_link.computerDid) == 1 && !m_link.phone.authenticated);
    const auto& token = m_link.phone.token;
    REQUIRE(token && storedHash(m_link.deviceID) == hexDigest(*token));
}

// What holds of the computer's side after each of its steps.
void Duel::check(const ComputerActions& actions)
{
    using State = ComputerHandshake::State;
    const ComputerHandshake& computer = *m_link.computer;
    REQUIRE(count<Authenticated>(m_link.computerDid) + count<Authenticated>(actions) <= 1);
    for (const ComputerAction& action : actions) {
        if (std::holds_alternative<ShowPairing>(action)) {
            REQUIRE(computer.code().size() == 6 && computer.qrKey().size() == 22);
            REQUIRE(std::all_of(computer.code().begin(), computer.code().end(), ::isdigit));
        }
        if (std::holds_alternative<Close>(action))
            REQUIRE(computer.state() == State::done);
    }
    REQUIRE(computer.attemptsLeft() >= 0 && computer.attemptsLeft() <= ComputerHandshake::attempts);
    REQUIRE(count<CountWrongCode>(m_link.computerDid) <= ComputerHandshake::attempts);
    REQUIRE(utf8::isValid(computer.deviceName()) && computer.deviceName().size() <= 80 * 4);
    // Every state a phone can sit in has a deadline, so no connection is
    // held open forever (awaiting pairing is answered by the driver at once).
    const State s = computer.state();
    if (s == State::awaitingHello || s == State::reconnecting || s == State::pairing ||
        s == State::rejected)
        REQUIRE(computer.deadline().has_value());
}

Bytes Duel::fuzzedKey()
{
    // Mostly a usable key, sometimes a low-order point or the wrong size.
    switch (m_in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return m_in.ConsumeBytes<std::uint8_t>(m_in.ConsumeIntegralInRange(0, 40));
    case 1:
        return Bytes(32, 0);
    default: {
        auto key = crypto::X25519Key::fromPrivate(makeKey(m_random));
        return Bytes(key->publicKey().begin(), key->publicKey().end());
    }
    }
}

// Someone else on the network speaks to the computer: a hello of its own,
// a pairing method, a record it cannot seal, or any bytes.
void Duel::forgeForComputer()
{
    OrvaneMessage message;
    switch (m_in.ConsumeIntegralInRange(0, 4)) {
    case 0: {
        Uuid id = m_in.ConsumeBool() ? m_link.deviceID : makeUuid(m_random);
        message =
            msg::Hello{m_in.ConsumeRandomLengthString(120), id, fuzzedKey(), m_in.ConsumeBool()};
        break;
    }
    case 1:
        message = msg::PairingMethod{{m_in.ConsumeBool()}};
        break;
    case 2: {
        // A sealed authenticate under a key of the forger's choosing.
        SessionKeys keys;
        keys.sendKey.fill(m_in.ConsumeIntegral<std::uint8_t>());
        SecureSession forger(keys);
        auto frame =
            forger.sealFrame(FrameKind::message, asBytes(*encodeMessage(msg::Authenticate{})));
        return m_link.deliverToComputer({Bytes(frame->begin() + 4, frame->end()), std::nullopt});
    }
    case 3: {
        const std::size_t index = m_in.ConsumeIntegral<std::size_t>();
        const auto& read = m_link.readByComputer;
        if (!read.empty())
            m_link.deliverToComputer({read[index % read.size()], std::nullopt});
        return;
    }
    default:
        return m_link.deliverToComputer(
            {m_in.ConsumeBytes<std::uint8_t>(m_in.ConsumeIntegralInRange(0, 300)), std::nullopt});
    }
    m_link.deliverToComputer(EndSession{}.frame(message, false));
}

// Someone pretends to be the computer.
void Duel::forgeForPhone()
{
    OrvaneMessage message;
    switch (m_in.ConsumeIntegralInRange(0, 4)) {
    case 0:
        message = msg::KeyExchange{fuzzedKey(), m_in.ConsumeBool()};
        break;
    case 1:
        message = msg::PairingRequired{};
        break;
    case 2:
        message = msg::PairingFailed{{m_in.ConsumeIntegral<std::int64_t>()}};
        break;
    case 3:
        message = msg::PairingRejected{{m_in.ConsumeRandomLengthString(40)}};
        break;
    default:
        return m_link.deliverToPhone(
            {m_in.ConsumeBytes<std::uint8_t>(m_in.ConsumeIntegralInRange(0, 300)), std::nullopt});
    }
    m_link.deliverToPhone(EndSession{}.frame(message, false));
}

void Duel::step()
{
    auto pop = [](std::deque<InFlight>& queue) {
        InFlight flight = std::move(queue.front());
        queue.pop_front();
        return flight;
    };
    const ComputerHandshake& computer = *m_link.computer;
    PhoneHandshake& phone = m_link.phone.handshake;
    const std::string& code = computer.code();
    switch (m_in.ConsumeIntegralInRange(0, 11)) {
    case 0:
    case 1:
        if (!m_link.toComputer.empty())
            m_link.deliverToComputer(pop(m_link.toComputer));
        break;
    case 2:
    case 3:
        if (!m_link.toPhone.empty())
            m_link.deliverToPhone(pop(m_link.toPhone));
        break;
    case 4:
        if (!m_link.toComputer.empty())
            pop(m_link.toComputer); // lost on the way
        break;
    case 5: {
        // Time passes: a little, or past every deadline at once.
        m_link.tick(m_in.ConsumeBool() ? m_in.ConsumeIntegralInRange<Clock>(0, 1'000)
                                       : m_in.ConsumeIntegralInRange<Clock>(0, 1'000'000));
        const auto state = computer.state();
        if (state != ComputerHandshake::State::done &&
            state != ComputerHandshake::State::awaitingPairing)
            REQUIRE(computer.deadline() && *computer.deadline() > m_link.now);
        break;
    }
    case 6:
        byPhone(phone.useCode(code));
        break;
    case 7:
        byPhone(phone.useCode(m_in.ConsumeRandomLengthString(8)));
        break;
    case 8: {
        const bool honest = m_in.ConsumeBool();
        PairingUrl scanned{"Desk", honest ? code : m_in.ConsumeRandomLengthString(8),
                           honest ? computer.qrKey() : m_in.ConsumeRandomLengthString(24)};
        byPhone(phone.useQr(scanned));
        break;
    }
    case 9:
        if (m_link.phone.token)
            byPhone(phone.reconnect(*m_link.phone.token));
        else
            m_link.pairingAllowed = !m_link.pairingAllowed;
        break;
    case 10:
        m_in.ConsumeBool() ? forgeForComputer() : forgeForPhone();
        break;
    default:
        m_link.connect("Ada's phone");
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    Duel duel(input);
    for (int i = 0; i < 200 && input.remaining_bytes() > 0; ++i)
        duel.step();
    return 0;
}

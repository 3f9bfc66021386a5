// Both ends of the handshake joined by queues of frames, on a fake clock,
// with the bytes choosing what happens next: a frame delivered, dropped,
// replayed or forged, time passing, the user typing a code or scanning the
// QR code, the phone connecting again. The transparent AEAD of this build
// is given back its one property: a record opens only under the key that
// sealed it. Then the phone is never let in unless the computer let it in,
// it keeps the token the computer trusts, and no handshake waits forever.
#include "handshake_ends.h"

#include "protocol/codec.h"
#include "protocol/computer_handshake.h"
#include "protocol/dispatch.h"
#include "protocol/phone_handshake.h"
#include "protocol/utf8.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <map>

using namespace orvane;
using namespace orvane::handshake;
using namespace orvane::fuzz;
using Clock = std::int64_t;

namespace {

#define REQUIRE(condition)                                                                         \
    do {                                                                                           \
        if (!(condition))                                                                          \
            std::abort();                                                                          \
    } while (0)

class Duel {
public:
    explicit Duel(FuzzedDataProvider& input)
        : m_in(input), m_random(input.ConsumeIntegral<std::uint64_t>())
    {
        connect();
    }
    void step();

private:
    void connect();
    void send(End& from, End& to, const OrvaneMessage& message, bool sealed);
    void deliverToComputer(InFlight flight);
    void deliverToPhone(InFlight flight);
    void byComputer(const HandshakeActions& actions);
    void byPhone(const HandshakeActions& actions);
    void check(const HandshakeActions& actions);
    void forgeForComputer();
    void forgeForPhone();
    std::optional<std::string> storedHash(const Uuid& id) const;
    Bytes fuzzedKey();

    FuzzedDataProvider& m_in;
    SeededRandom m_random;
    Clock m_now = 1'000;
    std::optional<ComputerHandshake> m_computer;
    PhoneHandshake m_phone;
    End m_computerEnd, m_phoneEnd;
    std::vector<Bytes> m_sentByPhone;
    // Outlive connections: the trust store and what the phone keeps.
    std::map<Uuid, std::string> m_trusted;
    std::optional<std::string> m_phoneToken;
    Uuid m_deviceID{{7, 7}};
    bool m_pairingAllowed = true;
    std::int64_t m_wrongCodes = 0;
};

void Duel::connect()
{
    m_computer.emplace(m_random, m_now, ComputerHandshake::Timeouts{});
    m_computerEnd = End{};
    m_phoneEnd = End{};
    m_wrongCodes = 0;
    auto key = crypto::X25519Key::fromPrivate(makeKey(m_random));
    REQUIRE(key);
    byPhone(m_phone.start("Ada's phone", m_deviceID, m_phoneToken.has_value(), std::move(*key)));
}

std::optional<std::string> Duel::storedHash(const Uuid& id) const
{
    auto found = m_trusted.find(id);
    return found == m_trusted.end() ? std::nullopt : std::optional(found->second);
}

void Duel::send(End& from, End& to, const OrvaneMessage& message, bool sealed)
{
    auto json = encodeMessage(message);
    REQUIRE(json);
    if (!sealed) {
        Bytes frame = encodeFrame(FrameKind::message, asBytes(*json));
        to.inbox.push_back({Bytes(frame.begin() + 4, frame.end()), std::nullopt});
        return;
    }
    REQUIRE(from.session);
    auto frame = from.session->sealFrame(FrameKind::message, asBytes(*json));
    REQUIRE(frame);
    to.inbox.push_back({Bytes(frame->begin() + 4, frame->end()), from.keys->sendKey});
}

void Duel::deliverToComputer(InFlight flight)
{
    if (m_computerEnd.closed)
        return;
    m_sentByPhone.push_back(flight.frame);
    FrameEvent event = m_computerEnd.receive(std::move(flight));
    auto* plain = std::get_if<frame_event::PlainMessage>(&event);
    auto* opened = std::get_if<frame_event::Message>(&event);
    ComputerHandshake& computer = *m_computer;
    if (auto* hello = plain ? std::get_if<msg::Hello>(&plain->message) : nullptr) {
        auto key = crypto::X25519Key::fromPrivate(makeKey(m_random));
        byComputer(computer.onHello(*hello,
                                    hello->hasToken ? storedHash(hello->deviceID) : std::nullopt,
                                    std::move(key), m_now));
    } else if (auto* method = plain ? std::get_if<msg::PairingMethod>(&plain->message) : nullptr) {
        byComputer(computer.onPairingMethod(method->value));
    } else if (opened && std::holds_alternative<msg::Authenticate>(opened->message)) {
        byComputer(computer.onAuthenticate(storedHash(computer.deviceID())));
    } else if (std::holds_alternative<frame_event::DecryptFailure>(event)) {
        byComputer(computer.onDecryptFailure());
    }
}

void Duel::deliverToPhone(InFlight flight)
{
    if (m_phoneEnd.closed)
        return;
    FrameEvent event = m_phoneEnd.receive(std::move(flight));
    if (auto* plain = std::get_if<frame_event::PlainMessage>(&event))
        byPhone(m_phone.onPlain(plain->message));
    else if (auto* opened = std::get_if<frame_event::Message>(&event))
        byPhone(m_phone.onSealed(opened->message));
}

// The computer's driver: the server's pairing controller in small.
void Duel::byComputer(const HandshakeActions& actions)
{
    ComputerHandshake& computer = *m_computer;
    check(actions);
    for (const HandshakeAction& action : actions) {
        if (auto* plain = std::get_if<SendPlain>(&action)) {
            send(m_computerEnd, m_phoneEnd, plain->message, false);
        } else if (auto* sealed = std::get_if<SendSealed>(&action)) {
            send(m_computerEnd, m_phoneEnd, sealed->message, true);
        } else if (auto* keys = std::get_if<InstallKeys>(&action)) {
            m_computerEnd.install(keys->keys);
        } else if (auto* refuse = std::get_if<Refuse>(&action)) {
            send(m_computerEnd, m_phoneEnd,
                 msg::PairingRejected{{std::to_string(int(refuse->why))}}, false);
        } else if (std::holds_alternative<PairingWanted>(action)) {
            byComputer(m_pairingAllowed ? computer.beginPairing(m_now)
                                        : computer.refuse(PairingRefusal::anotherDevice, m_now));
        } else if (std::holds_alternative<WrongCode>(action)) {
            ++m_wrongCodes;
            byComputer(computer.countWrongCode(m_now));
        } else if (std::holds_alternative<Agree>(action)) {
            byComputer(computer.agree());
        } else if (auto* paired = std::get_if<Paired>(&action)) {
            m_trusted[computer.deviceID()] = hexDigest(paired->token);
        } else if (std::holds_alternative<Authenticated>(action)) {
            REQUIRE(!m_computerEnd.authenticated);
            m_computerEnd.authenticated = true;
            send(m_computerEnd, m_phoneEnd, msg::Welcome{"Desk", true}, true);
        } else if (std::holds_alternative<Close>(action)) {
            m_computerEnd.closed = true;
        }
    }
}

void Duel::byPhone(const HandshakeActions& actions)
{
    for (const HandshakeAction& action : actions) {
        if (auto* plain = std::get_if<SendPlain>(&action)) {
            send(m_phoneEnd, m_computerEnd, plain->message, false);
        } else if (auto* sealed = std::get_if<SendSealed>(&action)) {
            send(m_phoneEnd, m_computerEnd, sealed->message, true);
        } else if (auto* keys = std::get_if<InstallKeys>(&action)) {
            m_phoneEnd.install(keys->keys);
        } else if (auto* paired = std::get_if<Paired>(&action)) {
            m_phoneToken = paired->token;
        } else if (std::holds_alternative<Authenticated>(action)) {
            // Only a computer that let the phone in welcomes it, and the
            // token the phone keeps is the one the computer trusts.
            REQUIRE(m_computerEnd.authenticated && !m_phoneEnd.authenticated);
            REQUIRE(m_phoneToken && storedHash(m_deviceID) == hexDigest(*m_phoneToken));
            m_phoneEnd.authenticated = true;
        } else if (std::holds_alternative<Close>(action)) {
            m_phoneEnd.closed = true;
        }
    }
}

// What holds of the computer's side after each of its steps.
void Duel::check(const HandshakeActions& actions)
{
    using State = ComputerHandshake::State;
    const ComputerHandshake& computer = *m_computer;
    for (const HandshakeAction& action : actions) {
        if (std::holds_alternative<ShowPairing>(action)) {
            REQUIRE(computer.code().size() == 6 && computer.qrKey().size() == 22);
            REQUIRE(std::all_of(computer.code().begin(), computer.code().end(), ::isdigit));
        }
        if (std::holds_alternative<Close>(action))
            REQUIRE(computer.state() == State::done);
    }
    REQUIRE(computer.attemptsLeft() >= 0 && computer.attemptsLeft() <= ComputerHandshake::attempts);
    REQUIRE(m_wrongCodes <= ComputerHandshake::attempts);
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
        Uuid id = m_in.ConsumeBool() ? m_deviceID : makeUuid(m_random);
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
        return deliverToComputer({Bytes(frame->begin() + 4, frame->end()), std::nullopt});
    }
    case 3: {
        const std::size_t index = m_in.ConsumeIntegral<std::size_t>();
        if (!m_sentByPhone.empty())
            deliverToComputer({m_sentByPhone[index % m_sentByPhone.size()], std::nullopt});
        return;
    }
    default:
        return deliverToComputer(
            {m_in.ConsumeBytes<std::uint8_t>(m_in.ConsumeIntegralInRange(0, 300)), std::nullopt});
    }
    send(m_phoneEnd, m_computerEnd, message, false);
    InFlight forged = std::move(m_computerEnd.inbox.back());
    m_computerEnd.inbox.pop_back();
    deliverToComputer(std::move(forged));
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
        return deliverToPhone(
            {m_in.ConsumeBytes<std::uint8_t>(m_in.ConsumeIntegralInRange(0, 300)), std::nullopt});
    }
    send(m_computerEnd, m_phoneEnd, message, false);
    InFlight forged = std::move(m_phoneEnd.inbox.back());
    m_phoneEnd.inbox.pop_back();
    deliverToPhone(std::move(forged));
}

void Duel::step()
{
    auto pop = [](End& end) {
        InFlight flight = std::move(end.inbox.front());
        end.inbox.pop_front();
        return flight;
    };
    const std::string& code = m_computer->code();
    switch (m_in.ConsumeIntegralInRange(0, 11)) {
    case 0:
    case 1:
        if (!m_computerEnd.inbox.empty())
            deliverToComputer(pop(m_computerEnd));
        break;
    case 2:
    case 3:
        if (!m_phoneEnd.inbox.empty())
            deliverToPhone(pop(m_phoneEnd));
        break;
    case 4:
        if (!m_computerEnd.inbox.empty())
            pop(m_computerEnd); // lost on the way
        break;
    case 5: {
        // Time passes: a little, or past every deadline at once.
        m_now += m_in.ConsumeBool() ? m_in.ConsumeIntegralInRange<Clock>(0, 1'000)
                                    : m_in.ConsumeIntegralInRange<Clock>(0, 1'000'000);
        byComputer(m_computer->onTick(m_now));
        const auto state = m_computer->state();
        if (state != ComputerHandshake::State::done &&
            state != ComputerHandshake::State::awaitingPairing)
            REQUIRE(m_computer->deadline() && *m_computer->deadline() > m_now);
        break;
    }
    case 6:
        byPhone(m_phone.useCode(code));
        break;
    case 7:
        byPhone(m_phone.useCode(m_in.ConsumeRandomLengthString(8)));
        break;
    case 8: {
        const bool honest = m_in.ConsumeBool();
        PairingUrl scanned{"Desk", honest ? code : m_in.ConsumeRandomLengthString(8),
                           honest ? m_computer->qrKey() : m_in.ConsumeRandomLengthString(24)};
        byPhone(m_phone.useQr(scanned));
        break;
    }
    case 9:
        if (m_phoneToken)
            byPhone(m_phone.reconnect(*m_phoneToken));
        else
            m_pairingAllowed = !m_pairingAllowed;
        break;
    case 10:
        m_in.ConsumeBool() ? forgeForComputer() : forgeForPhone();
        break;
    default:
        connect();
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

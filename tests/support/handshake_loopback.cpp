#include "handshake_loopback.h"

#include "protocol/codec.h"
#include "protocol/overloaded.h"
#include "protocol/random.h"

#include <stdexcept>

namespace orvane::loopback {

using namespace handshake;

void EndSession::install(const SessionKeys& installed)
{
    keys = installed;
    current = std::make_shared<SecureSession>(installed);
}

InFlight EndSession::frame(const OrvaneMessage& message, bool sealed) const
{
    auto json = encodeMessage(message);
    if (!json)
        throw std::logic_error("a handshake message did not encode");
    if (!sealed) {
        Bytes frame = encodeFrame(FrameKind::message, asBytes(*json));
        return {Bytes(frame.begin() + 4, frame.end()), std::nullopt};
    }
    if (!current)
        throw std::logic_error("a sealed message before any keys");
    auto frame = current->sealFrame(FrameKind::message, asBytes(*json));
    if (!frame)
        throw std::logic_error("a handshake message did not seal");
    return {Bytes(frame->begin() + 4, frame->end()), keys->sendKey};
}

FrameEvent EndSession::receive(InFlight flight) const
{
    Bytes& frame = flight.frame;
    const bool opens = flight.sealedUnder && keys && *flight.sealedUnder == keys->receiveKey;
    if (frame.size() > 1 && frame[0] == std::uint8_t(FrameKind::sealed) && !opens)
        frame.back() |= 1;
    return dispatchFrame(std::move(frame), current.get());
}

void PhoneDriver::start(const std::string& name, const Uuid& deviceID, bool hasToken,
                        RandomSource& random)
{
    auto key = crypto::X25519Key::fromPrivate(makeKey(random));
    if (!key)
        throw std::logic_error("no key pair for the phone");
    carryOut(handshake.start(name, deviceID, hasToken, std::move(*key)));
}

void PhoneDriver::carryOut(const PhoneActions& actions)
{
    for (const PhoneAction& action : actions) {
        check(action);
        did.push_back(action);
        std::visit(Overloaded{
                       [&](const SendPlain& a) { m_send(a.message, false); },
                       [&](const SendSealed& a) { m_send(a.message, true); },
                       [&](const InstallKeys& a) { session.install(a.keys); },
                       // The user's part: whoever drives the phone reads the log.
                       [](const CodeWanted&) {},
                       [](const WrongCode&) {},
                       [](const Rejected&) {},
                       [&](const Paired& a) { token = a.token; },
                       [&](const Authenticated&) { authenticated = true; },
                       [&](const Close&) { closed = true; },
                   },
                   action);
    }
}

Loopback::Loopback(RandomSource& random, std::int64_t nowMs)
    : now(nowMs), computer(std::in_place, random, nowMs, ComputerHandshake::Timeouts{}),
      phone([this](const OrvaneMessage& message, bool sealed) {
          toComputer.push_back(phone.session.frame(message, sealed));
      }),
      m_random(random)
{
}

std::string Loopback::refusalText(PairingRefusal why)
{
    return "refused " + std::to_string(int(why));
}

void Loopback::connect(const std::string& phoneName)
{
    computer.emplace(m_random, now, ComputerHandshake::Timeouts{});
    computerSession = {};
    computerDid.clear();
    computerClosed = false;
    phone.session = {};
    phone.did.clear();
    phone.authenticated = phone.closed = false;
    toComputer.clear();
    toPhone.clear();
    phone.start(phoneName, deviceID, phone.token.has_value(), m_random);
}

void Loopback::deliverToComputer(InFlight flight)
{
    if (computerClosed)
        return;
    readByComputer.push_back(flight.frame);
    beforeComputerReads(flight.frame);
    const FrameEvent event = computerSession.receive(std::move(flight));
    ComputerHandshake::Lookups lookups{
        [this](const Uuid& id) {
            auto found = trusted.find(id);
            return found == trusted.end() ? std::nullopt : std::optional(found->second);
        },
        [this] { return crypto::X25519Key::fromPrivate(makeKey(m_random)); }};
    byComputer(computer->onFrame(event, lookups, now));
}

void Loopback::deliverToPhone(InFlight flight)
{
    if (!phone.closed)
        phone.receive(phone.session.receive(std::move(flight)));
}

void Loopback::settle()
{
    while (!toComputer.empty() || !toPhone.empty()) {
        std::deque<InFlight>& queue = toComputer.empty() ? toPhone : toComputer;
        InFlight flight = std::move(queue.front());
        queue.pop_front();
        &queue == &toComputer ? deliverToComputer(std::move(flight))
                              : deliverToPhone(std::move(flight));
    }
}

void Loopback::byComputer(const ComputerActions& actions)
{
    checkComputer(actions);
    for (const ComputerAction& action : actions) {
        computerDid.push_back(action);
        carryOut(action);
    }
}

void Loopback::carryOut(const ComputerAction& action)
{
    ComputerHandshake& handshake = *computer;
    std::visit(Overloaded{
                   [&](const SendPlain& a) { sendFromComputer(a.message, false); },
                   [&](const SendSealed& a) { sendFromComputer(a.message, true); },
                   [&](const InstallKeys& a) { computerSession.install(a.keys); },
                   [&](const Refuse& a) {
                       sendFromComputer(msg::PairingRejected{{refusalText(a.why)}}, false);
                   },
                   [&](const PairingWanted&) {
                       byComputer(pairingAllowed
                                      ? handshake.beginPairing(now)
                                      : handshake.refuse(PairingRefusal::anotherDevice, now));
                   },
                   [&](const Agree&) { byComputer(handshake.agree()); },
                   // The user reads the code off the handshake.
                   [](const ShowPairing&) {},
                   [](const HidePairing&) {},
                   [&](const CountWrongCode&) { byComputer(handshake.countWrongCode(now)); },
                   [&](const Paired& a) { trusted[handshake.deviceID()] = hexDigest(a.token); },
                   [&](const Authenticated&) {
                       sendFromComputer(msg::Welcome{"Desk", true}, true);
                   },
                   [&](const Close&) { computerClosed = true; },
               },
               action);
}

void Loopback::sendFromComputer(const OrvaneMessage& message, bool sealed)
{
    toPhone.push_back(computerSession.frame(message, sealed));
}

} // namespace orvane::loopback

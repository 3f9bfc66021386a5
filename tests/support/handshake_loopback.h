#pragma once

// The two ends of the handshake in memory, each carried out as its real
// driver would: the handshake tests and the handshake fuzzer join both ends
// here, and the test phone drives its end against a server. Nothing in it
// needs gtest, so that the fuzzer builds it too.
#include "protocol/computer_handshake.h"
#include "protocol/phone_handshake.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>

namespace orvane::loopback {

// A frame on its way (kind byte and payload), and the key a sealed one was
// sealed under; none for one from outside.
struct InFlight {
    Bytes frame;
    std::optional<crypto::Key32> sealedUnder;
};

// One end's session: the keys it last installed.
struct EndSession {
    std::shared_ptr<SecureSession> current;
    std::optional<SessionKeys> keys;

    void install(const SessionKeys& installed);
    // A message as it leaves this end, plain or sealed.
    InFlight frame(const OrvaneMessage& message, bool sealed) const;
    // What dispatch makes of a frame arriving here. A sealed record under
    // any key but this end's receive key gets a broken tag, as a real AEAD
    // sees it: the fuzz build's transparent one would open it.
    FrameEvent receive(InFlight flight) const;
};

// The phone's driver: carries out what its handshake asks for, keeps the
// token it was given across connections, and logs every action.
class PhoneDriver {
public:
    using Send = std::function<void(const OrvaneMessage& message, bool sealed)>;
    explicit PhoneDriver(Send send) : m_send(std::move(send)) {}

    PhoneHandshake handshake;
    EndSession session;
    PhoneActions did;
    std::optional<std::string> token;
    bool authenticated = false;
    bool closed = false;
    // Sees each action just before it is carried out.
    std::function<void(const PhoneAction&)> check = [](const PhoneAction&) {};

    void start(const std::string& name, const Uuid& deviceID, bool hasToken, RandomSource& random);
    void receive(const FrameEvent& event) { carryOut(handshake.onFrame(event)); }
    void carryOut(const PhoneActions& actions);
    void send(const OrvaneMessage& message, bool sealed) { m_send(message, sealed); }

private:
    Send m_send;
};

// Both ends joined by a queue of frames each way, on a fake clock. It plays
// the computer's driver in small: a trust store that outlives connections, a
// pairing policy, refusals in refusalText()'s words, and a welcome for a
// phone that gets in.
class Loopback {
public:
    explicit Loopback(RandomSource& random, std::int64_t nowMs = 1'000);
    Loopback(const Loopback&) = delete; // the phone's driver sends through this
    Loopback& operator=(const Loopback&) = delete;

    static std::string refusalText(PairingRefusal why);

    std::map<Uuid, std::string> trusted; // device id -> token hash
    bool pairingAllowed = true;
    std::int64_t now;
    Uuid deviceID{{7, 7}};

    // This connection.
    std::optional<ComputerHandshake> computer;
    EndSession computerSession;
    ComputerActions computerDid;
    bool computerClosed = false;
    PhoneDriver phone;
    std::deque<InFlight> toComputer, toPhone;
    std::vector<Bytes> readByComputer; // as they arrived, before beforeComputerReads
    // Sees, and may change, each frame the computer reads.
    std::function<void(Bytes&)> beforeComputerReads = [](Bytes&) {};
    // Sees each batch of the computer's actions before it is carried out.
    std::function<void(const ComputerActions&)> checkComputer = [](const ComputerActions&) {};

    // A new connection, the phone's hello on its way.
    void connect(const std::string& phoneName);
    void deliverToComputer(InFlight flight);
    void deliverToPhone(InFlight flight);
    // Delivers every frame in flight, and what they bring about, in order.
    void settle();
    void tick(std::int64_t ms) { byComputer(computer->onTick(now += ms)); }
    void byComputer(const ComputerActions& actions);

private:
    void carryOut(const ComputerAction& action);
    void sendFromComputer(const OrvaneMessage& message, bool sealed);

    RandomSource& m_random;
};

} // namespace orvane::loopback

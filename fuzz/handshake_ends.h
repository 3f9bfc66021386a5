#pragma once

// The pieces of the handshake harness that stand in for the network: a
// seeded random source, frames in flight, and each end's session and inbox.
#include "protocol/dispatch.h"
#include "protocol/random.h"
#include "protocol/secure_session.h"

#include <deque>
#include <memory>
#include <optional>

namespace orvane::fuzz {

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

// A frame on its way: kind byte and payload, and the key a sealed one was
// sealed under (none for a forgery).
struct InFlight {
    Bytes frame;
    std::optional<crypto::Key32> sealedUnder;
};

struct End {
    std::shared_ptr<SecureSession> session;
    std::optional<SessionKeys> keys;
    std::deque<InFlight> inbox;
    bool authenticated = false;
    bool closed = false;

    void install(const SessionKeys& k)
    {
        keys = k;
        session = std::make_shared<SecureSession>(k);
    }
    // What dispatch makes of a frame here: a sealed record whose key is not
    // this end's receive key gets a broken tag, as a real AEAD would see it.
    FrameEvent receive(InFlight flight)
    {
        Bytes& frame = flight.frame;
        const bool opens = flight.sealedUnder && keys && *flight.sealedUnder == keys->receiveKey;
        if (!frame.empty() && frame[0] == std::uint8_t(FrameKind::sealed) && !opens &&
            frame.size() > 1)
            frame.back() |= 1;
        return dispatchFrame(std::move(frame), session.get());
    }
};

} // namespace orvane::fuzz

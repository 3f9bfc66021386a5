#pragma once

#include "protocol/crypto.h"
#include "protocol/random.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace orvane {

// Ephemeral X25519 key pairs made ahead on a thread of their own. Making one
// is a scalar multiplication, the costliest step of a phone's hello; taken
// from here, the hello only has the agreement left to do. The maker runs at
// idle priority and is woken only once the pool is half used: a burst of
// reconnects then costs no wakeups, and the keys are made on a core that a
// phone's handshake is not waiting on.
class KeyPool {
public:
    // Without `background`, every key is made when it is taken (tests with a
    // fixed random source keep their order of draws that way).
    KeyPool(RandomSource& random, bool background, std::size_t size = 16);
    ~KeyPool();
    KeyPool(const KeyPool&) = delete;
    KeyPool& operator=(const KeyPool&) = delete;

    std::optional<crypto::X25519Key> take();

private:
    void run();

    RandomSource& m_random;
    const std::size_t m_size;
    std::mutex m_lock;
    std::condition_variable m_wanted;
    std::deque<crypto::X25519Key> m_ready;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace orvane

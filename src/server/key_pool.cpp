#include "key_pool.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace orvane {

KeyPool::KeyPool(RandomSource& random, bool background, std::size_t size)
    : m_random(random), m_size(size)
{
    if (background)
        m_thread = std::thread([this] { run(); });
}

KeyPool::~KeyPool()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wanted.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::optional<crypto::X25519Key> KeyPool::take()
{
    {
        // The maker may hold the lock while it waits for a free core; the
        // event loop never waits on it.
        std::unique_lock lock(m_lock, std::try_to_lock);
        if (lock.owns_lock() && !m_ready.empty()) {
            crypto::X25519Key key = std::move(m_ready.front());
            m_ready.pop_front();
            if (m_ready.size() <= m_size / 2)
                m_wanted.notify_one();
            return key;
        }
    }
    return crypto::X25519Key::fromPrivate(makeKey(m_random));
}

void KeyPool::run()
{
#if defined(__linux__)
    sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
#endif
    std::unique_lock lock(m_lock);
    for (;;) {
        // Woken at half, it fills the pool to the top in one go.
        m_wanted.wait(lock, [this] { return m_stopping || m_ready.size() <= m_size / 2; });
        while (!m_stopping && m_ready.size() < m_size) {
            lock.unlock();
            auto key = crypto::X25519Key::fromPrivate(makeKey(m_random));
            lock.lock();
            if (!key)
                break; // a failure here leaves the work to take()
            m_ready.push_back(std::move(*key));
        }
        if (m_stopping)
            return;
        if (m_ready.size() <= m_size / 2)
            m_wanted.wait_for(lock, std::chrono::seconds(1)); // after a failure, not in a spin
    }
}

} // namespace orvane

#include "key_pool.h"

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
        std::lock_guard lock(m_lock);
        if (!m_ready.empty()) {
            crypto::X25519Key key = std::move(m_ready.front());
            m_ready.pop_front();
            m_wanted.notify_one();
            return key;
        }
    }
    return crypto::X25519Key::fromPrivate(makeKey(m_random));
}

void KeyPool::run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wanted.wait(lock, [this] { return m_stopping || m_ready.size() < m_size; });
        if (m_stopping)
            return;
        lock.unlock();
        auto key = crypto::X25519Key::fromPrivate(makeKey(m_random));
        lock.lock();
        if (!key)
            continue; // a failure here leaves the work to take()
        m_ready.push_back(std::move(*key));
    }
}

} // namespace orvane

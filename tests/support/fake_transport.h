#pragma once

#include "server/transport.h"

#include <QTimer>

#include <vector>

namespace orvane::test {

// A transport the test drives by hand: it records every frame sent and lets
// the test push bytes in or end the connection. Its state reports arrive
// from the event loop, as a real socket's do.
class FakeTransport final : public Transport {
public:
    struct Shared {
        Callbacks callbacks;
        std::vector<Bytes> sent;
        bool cancelled = false;
        // The send with this number (from 1) fails; sendCount counts them.
        int failSendNumber = 0;
        int sendCount = 0;
        // A phone that does not read: sends wait until drain().
        bool holdSends = false;
        std::vector<std::pair<std::size_t, Completion>> held;
        std::size_t heldBytes = 0;
        bool readingPaused = false;
        bool relay = false;
        // Each phone a host of its own unless a test says otherwise.
        QString address = QStringLiteral("192.0.2.%1").arg(++addressesGiven % 250 + 1);
        static inline int addressesGiven = 0;

        void drain()
        {
            auto sends = std::move(held);
            held.clear();
            heldBytes = 0;
            for (auto& [size, done] : sends)
                if (done)
                    done(std::nullopt);
            if (callbacks.onDrained)
                callbacks.onDrained();
        }
    };

    explicit FakeTransport(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

    void start(Callbacks callbacks) override { m_shared->callbacks = std::move(callbacks); }
    void cancel() override
    {
        if (m_shared->cancelled)
            return;
        m_shared->cancelled = true;
        reportLater(TransportState::cancelled);
    }
    void send(Bytes frame, Completion done) override
    {
        if (++m_shared->sendCount == m_shared->failSendNumber) {
            // As a socket whose write fails: the send and the connection.
            if (done)
                done(QStringLiteral("injected failure"));
            reportLater(TransportState::failed);
            return;
        }
        const std::size_t size = frame.size();
        m_shared->sent.push_back(std::move(frame));
        if (m_shared->holdSends) {
            m_shared->heldBytes += size;
            m_shared->held.emplace_back(size, std::move(done));
        } else if (done) {
            done(std::nullopt);
        }
    }
    std::size_t bytesPending() const override { return m_shared->heldBytes; }
    void setReadingPaused(bool paused) override { m_shared->readingPaused = paused; }
    bool isRelay() const override { return m_shared->relay; }
    QString peerDescription() const override { return QStringLiteral("fake"); }
    QString peerAddress() const override { return m_shared->relay ? QString() : m_shared->address; }
    void dispose() override
    {
        m_shared->callbacks = {};
        delete this;
    }

private:
    void reportLater(TransportState state)
    {
        std::weak_ptr<Shared> weak = m_shared;
        QTimer::singleShot(0, [weak, state] {
            if (auto shared = weak.lock(); shared && shared->callbacks.onState)
                shared->callbacks.onState(state);
        });
    }

    std::shared_ptr<Shared> m_shared;
};

} // namespace orvane::test

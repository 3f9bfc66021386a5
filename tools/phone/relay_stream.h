#pragma once

#include "tcp_stream.h"

#include <deque>
#include <functional>
#include <memory>

class QWebSocket;

namespace orvane::phone {

// A relay room joined as the phone, over a WebSocket: frames go out cut
// into the relay's chunks, and what arrives is the same byte stream as on
// the local network. The calls block, running Qt's event loop until their
// deadline; the program needs a QCoreApplication.
class RelayStream final : public ByteStream {
public:
    RelayStream();
    ~RelayStream() override;

    // wss:// checked against the system's trust store and, when
    // ORVANE_RELAY_CA_FILE names one, that file's authorities too.
    Status connect(const std::string& roomAddress, int timeoutMs);
    void close() override;
    bool isOpen() const override;
    Status sendAll(ByteView bytes, Clock::time_point deadline) override;
    ReadStatus readSome(Bytes& out, Clock::time_point deadline) override;
    const std::string& lastError() const override { return m_lastError; }

private:
    // Runs the event loop until `done` holds or the deadline passes.
    bool waitFor(const std::function<bool()>& done, Clock::time_point deadline);

    std::unique_ptr<QWebSocket> m_socket;
    std::deque<Bytes> m_received;
    bool m_closed = false;
    std::string m_lastError;
};

} // namespace orvane::phone

#pragma once

#include <QByteArray>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace orvane {

// One connection to sway's IPC socket (the i3 protocol: a magic string,
// the payload's length and its type, then JSON). Nothing here waits:
// requests are answered in order through their callbacks, and events come
// through `onEvent`. A connection that breaks, or an answer that does not
// come within the deadline, ends every open request with nothing, and the
// connection is tried again a little later.
class SwayIpc final : public QObject {
    Q_OBJECT
public:
    enum Type : std::uint32_t {
        runCommand = 0,
        getWorkspaces = 1,
        subscribe = 2,
        getTree = 4,
    };
    // Events carry their kind in the low bits and this bit set.
    static constexpr std::uint32_t eventBit = 0x80000000u;
    // Sway's answers are a window tree of a few hundred KiB at most; a
    // larger one is not sway's.
    static constexpr std::uint32_t maxPayload = 32u << 20;

    using Reply = std::function<void(std::optional<QByteArray> payload)>;

    explicit SwayIpc(QString socketPath, QObject* parent = nullptr);
    ~SwayIpc() override;

    bool isConnected() const { return m_socket.state() == QLocalSocket::ConnectedState; }
    void request(Type type, const QByteArray& payload, Reply reply);

    // Told on each (re)connection, so that subscriptions are made again.
    std::function<void()> onConnected;
    std::function<void(std::uint32_t event, const QByteArray& payload)> onEvent;
    std::function<void()> onDisconnected;

    // The socket sway's children find in their environment; empty outside sway.
    static QString sessionSocket();

private:
    void connectNow();
    void readMessages();
    void lost();

    QString m_path;
    QLocalSocket m_socket;
    QByteArray m_buffer;
    std::deque<Reply> m_waiting;
    QTimer m_deadline;
    QTimer m_retry;
};

} // namespace orvane

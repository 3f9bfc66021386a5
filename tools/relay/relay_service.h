#pragma once

// The relay: rooms of at most one computer ("mac") and one phone, presence
// texts for the computer, binary messages passed on unchanged and in order,
// and the limits that keep one relay up for everyone.
//
// Rooms never talk to each other, so relays scale out behind a load balancer
// that hashes the request path.
#include "member.h"
#include "relay_listener.h"
#include "relay_options.h"
#include "relay_stats.h"
#include "token_bucket.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

namespace orvane::relay {

class RelayService {
public:
    // Receives one line per join and leave; never a payload.
    using LogSink = std::function<void(const QString&)>;

    RelayService(const RelayOptions& options, std::optional<QSslConfiguration> tls, LogSink log);
    ~RelayService();
    RelayService(const RelayService&) = delete;
    RelayService& operator=(const RelayService&) = delete;

    bool listen(QString* error);
    quint16 port() const { return m_listener->serverPort(); }
    RelayFigures figures() const;
    // Closes every member with 1001: the relay is stopping.
    void closeAll();

private:
    enum class Leave { closed, messageTooBig, slowReceiver, bufferLimit, idle, replaced, stopping };

    struct Room {
        Room(std::string roomId, QString client, TokenBucket bucket)
            : id(std::move(roomId)), opener(std::move(client)), rate(bucket)
        {
        }
        std::string id;
        QString opener; // the address the room counts against
        std::unique_ptr<Member> mac;
        std::unique_ptr<Member> phone;
        TokenBucket rate;

        std::unique_ptr<Member>& seat(Role role) { return role == Role::mac ? mac : phone; }
        Member* other(Role role) { return (role == Role::mac ? phone : mac).get(); }
        bool empty() const { return !mac && !phone; }
    };

    void admit(QWebSocket* webSocket, QTcpSocket* socket, const QByteArray& target);
    void refuse(QWebSocket* webSocket, QTcpSocket* socket, Refusal refusal);
    // The room `id`, opened for `client` if it is new; nothing, and the
    // reason in `refusal`, past a limit.
    Room* roomFor(const std::string& id, const QString& client, Refusal* refusal);
    void seat(Room& room, std::unique_ptr<Member> member);
    void wire(Room& room, Member& member);
    // Takes the member of `role` out of its room and closes it; the computer
    // hears "peer:off" when the phone goes, and an empty room goes too.
    void remove(Room& room, Role role, Leave reason);
    // Closes a member taken out of its room; returns the line for the log.
    QString retire(std::unique_ptr<Member> member, Leave reason);
    void sweepIdle();
    void logLine(const std::string& room, Role role, const QString& what) const;

    // forwarding.cpp: what members send.
    void onBinary(Room& room, Member& from, const QByteArray& message);
    void onText(Room& room, Member& from, const QString& text);
    void spend(Room& room, Member& from, qint64 bytes);
    // Sends a presence text, counted as owed to `to`.
    void tell(Member& to, const QString& text);
    // Counts what `member` is owed after a read from it; past its budget it
    // goes as too slow, and past the total the slowest member goes.
    void checkOwed(Room& room, Member& member);
    void account(Member& member);
    void enforceBufferTotal();

    RelayOptions m_options;
    LogSink m_log;
    QObject m_root; // parent of the members' web sockets
    ClientAddresses m_addresses;
    RelayListener* m_listener;
    QTimer m_sweep;
    std::unordered_map<std::string, std::unique_ptr<Room>> m_rooms;
    TokenBucket m_globalRate;
    AddressCounts m_roomsPerAddress;
    RelayCounters m_counters;
    qint64 m_members = 0;
    qint64 m_bufferedTotal = 0;
};

} // namespace orvane::relay

#include "relay_service.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace orvane::relay {

namespace {

using CloseCode = QWebSocketProtocol::CloseCode;

const QString peerOn = QStringLiteral("peer:on");
const QString peerOff = QStringLiteral("peer:off");

// A frame header is at most 14 bytes; the read buffer holds one whole frame
// of the largest message, which QWebSocket needs before it takes the frame.
constexpr qint64 frameHeaderRoom = 64;

struct LeaveInfo {
    const char* logText;
    CloseCode code;
    const char* closeReason;
    std::optional<Refusal> refusal;
};

} // namespace

RelayService::RelayService(const RelayOptions& options, std::optional<QSslConfiguration> tls,
                           LogSink log)
    : m_options(options), m_log(std::move(log)), m_addresses(options.trustedProxies),
      m_listener(new RelayListener(ListenerLimits{options.maxPending, options.maxPendingPerAddress,
                                                  options.handshakeTimeout,
                                                  options.maxMessageBytes + frameHeaderRoom},
                                   m_addresses, std::move(tls), &m_root)),
      m_globalRate(options.globalRate, burstFor(options.globalRate, options.maxMessageBytes),
                   monotonicMs()),
      m_roomsPerAddress(options.maxRoomsPerAddress)
{
    m_listener->setHandlers([this](QWebSocket* webSocket, QTcpSocket* socket,
                                   const QByteArray& target) { admit(webSocket, socket, target); },
                            [this](Refusal refusal) { m_counters.count(refusal); });
    // Idle members are found by a sweep, a quarter of the timeout apart, so
    // that a busy member costs no timer restart per message.
    const auto idle = static_cast<int>(options.idleTimeout.count());
    m_sweep.setInterval(std::clamp(idle / 4, 10, 1000));
    QObject::connect(&m_sweep, &QTimer::timeout, &m_root, [this] { sweepIdle(); });
    m_sweep.start();
}

RelayService::~RelayService()
{
    // Members first: each hands its web socket over to be closed, and the
    // web sockets and connections go with m_root.
    m_rooms.clear();
}

bool RelayService::listen(QString* error)
{
    if (m_listener->listen(m_options.listen.address, m_options.listen.port))
        return true;
    if (error)
        *error = m_listener->errorString();
    return false;
}

RelayFigures RelayService::figures() const
{
    RelayFigures figures;
    figures.rooms = static_cast<qint64>(m_rooms.size());
    figures.members = m_members;
    figures.pendingConnections = m_listener->pendingCount();
    figures.bufferedBytes = m_bufferedTotal;
    figures.counters = m_counters;
    return figures;
}

void RelayService::closeAll()
{
    std::vector<std::string> ids;
    for (const auto& entry : m_rooms)
        ids.push_back(entry.first);
    for (const std::string& id : ids) {
        for (Role role : {Role::phone, Role::mac}) {
            auto found = m_rooms.find(id);
            if (found != m_rooms.end())
                remove(*found->second, role, Leave::stopping);
        }
    }
}

void RelayService::admit(QWebSocket* webSocket, QTcpSocket* socket, const QByteArray& target)
{
    webSocket->setParent(&m_root);
    const std::optional<RoomAddress> address = parseRoomAddress(target);
    if (!address) {
        refuse(webSocket, socket, Refusal::badAddress);
        return;
    }
    const QString client =
        m_addresses.key(webSocket->peerAddress(), webSocket->request().rawHeader("X-Real-IP"));
    Refusal refusal = Refusal::roomLimit;
    Room* room = roomFor(address->room, client, &refusal);
    if (!room) {
        refuse(webSocket, socket, refusal);
        return;
    }
    // The limits apply from the first message on.
    webSocket->setMaxAllowedIncomingFrameSize(static_cast<quint64>(m_options.maxMessageBytes));
    webSocket->setMaxAllowedIncomingMessageSize(static_cast<quint64>(m_options.maxMessageBytes));
    seat(*room, std::make_unique<Member>(webSocket, socket, address->role));
}

void RelayService::refuse(QWebSocket* webSocket, QTcpSocket* socket, Refusal refusal)
{
    m_counters.count(refusal);
    // A member that never joined: closing it is what a member's end does.
    Member refused(webSocket, socket, Role::mac);
    const char* reason = refusal == Refusal::badAddress         ? "bad room address"
                         : refusal == Refusal::addressRoomLimit ? "address room limit reached"
                                                                : "room limit reached";
    refused.setCloseCode(QWebSocketProtocol::CloseCodePolicyViolated, QLatin1String(reason));
}

RelayService::Room* RelayService::roomFor(const std::string& id, const QString& client,
                                          Refusal* refusal)
{
    auto found = m_rooms.find(id);
    if (found != m_rooms.end())
        return found->second.get();
    if (static_cast<qint64>(m_rooms.size()) >= m_options.maxRooms) {
        *refusal = Refusal::roomLimit;
        return nullptr;
    }
    // A room counts against the address that opened it for as long as it lasts.
    if (!m_roomsPerAddress.take(client)) {
        *refusal = Refusal::addressRoomLimit;
        return nullptr;
    }
    TokenBucket bucket(m_options.roomRate, burstFor(m_options.roomRate, m_options.maxMessageBytes),
                       monotonicMs());
    auto room = std::make_unique<Room>(id, client, bucket);
    return m_rooms.emplace(id, std::move(room)).first->second.get();
}

void RelayService::seat(Room& room, std::unique_ptr<Member> member)
{
    const Role role = member->role();
    wire(room, *member);
    ++m_members;
    // A newcomer takes the seat; the member it replaces is closed.
    std::unique_ptr<Member> replaced = std::exchange(room.seat(role), std::move(member));
    if (replaced) {
        logLine(room.id, role, retire(std::move(replaced), Leave::replaced));
        // The computer hears the old phone go before the new one comes.
        if (role == Role::phone && room.mac)
            tell(*room.mac, peerOff);
    }
    logLine(room.id, role, QStringLiteral("join"));
    // "peer:on" goes out before anything the phone sends can be passed on:
    // its messages are read only once this returns.
    if (room.mac && room.phone)
        tell(*room.mac, peerOn);
}

void RelayService::wire(Room& room, Member& member)
{
    QWebSocket* webSocket = member.webSocket();
    QObject* context = member.context();
    Room* r = &room;
    Member* m = &member;
    QObject::connect(webSocket, &QWebSocket::binaryMessageReceived, context,
                     [this, r, m](const QByteArray& message) { onBinary(*r, *m, message); });
    QObject::connect(webSocket, &QWebSocket::textMessageReceived, context,
                     [this, r, m](const QString& text) { onText(*r, *m, text); });
    QObject::connect(webSocket, &QWebSocket::bytesWritten, context, [this, m] { account(*m); });
    // Qt's web socket takes what arrived in its own slot, connected first:
    // this one sees the answers it wrote, pongs to WebSocket pings included.
    // One read is at most one read buffer, so a member that pings and never
    // reads passes its budget by at most that much, and only until here.
    QObject::connect(member.connection(), &QIODevice::readyRead, context,
                     [this, r, m] { checkOwed(*r, *m); });
    QObject::connect(webSocket, &QWebSocket::disconnected, context, [this, r, m] {
        // QWebSocket closes with 1009 by itself when a message is too big.
        const bool tooBig = m->webSocket()->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData;
        remove(*r, m->role(), tooBig ? Leave::messageTooBig : Leave::closed);
    });
}

void RelayService::remove(Room& room, Role role, Leave reason)
{
    std::unique_ptr<Member> member = std::move(room.seat(role));
    if (!member)
        return;
    const std::string id = room.id;
    const QString what = retire(std::move(member), reason);
    if (role == Role::phone && room.mac)
        tell(*room.mac, peerOff);
    if (room.empty()) {
        m_roomsPerAddress.give(room.opener);
        m_rooms.erase(id);
    }
    logLine(id, role, what);
}

QString RelayService::retire(std::unique_ptr<Member> member, Leave reason)
{
    static const LeaveInfo infos[] = {
        {"closed", QWebSocketProtocol::CloseCodeNormal, "", std::nullopt},
        {"message too big", QWebSocketProtocol::CloseCodeTooMuchData, "message too big",
         Refusal::messageTooBig},
        {"too slow", QWebSocketProtocol::CloseCodePolicyViolated, "too slow",
         Refusal::slowReceiver},
        {"relay buffers full", QWebSocketProtocol::CloseCodePolicyViolated, "too slow",
         Refusal::bufferLimit},
        {"idle", QWebSocketProtocol::CloseCodeGoingAway, "idle", Refusal::idle},
        {"replaced", QWebSocketProtocol::CloseCodeGoingAway, "replaced", Refusal::replaced},
        {"relay stopping", QWebSocketProtocol::CloseCodeGoingAway, "relay stopping", std::nullopt},
    };
    const LeaveInfo& info = infos[static_cast<int>(reason)];
    if (info.refusal)
        m_counters.count(*info.refusal);
    m_bufferedTotal -= member->accountedOutput;
    --m_members;
    member->setCloseCode(info.code, QLatin1String(info.closeReason));
    member.reset();
    return QStringLiteral("leave: %1").arg(QLatin1String(info.logText));
}

void RelayService::sweepIdle()
{
    const qint64 now = monotonicMs();
    const qint64 idleMs = m_options.idleTimeout.count();
    std::vector<std::pair<std::string, Role>> idle;
    for (const auto& [id, room] : m_rooms) {
        for (Member* member : {room->mac.get(), room->phone.get()}) {
            // A member whose reading is held back is not idle: it is waiting.
            if (member && !member->readingHeld() && now - member->lastActivityMs() >= idleMs)
                idle.emplace_back(id, member->role());
        }
    }
    for (const auto& [id, role] : idle) {
        auto found = m_rooms.find(id);
        if (found != m_rooms.end())
            remove(*found->second, role, Leave::idle);
    }
}

void RelayService::logLine(const std::string& room, Role role, const QString& what) const
{
    if (!m_log)
        return;
    // Eight characters tell rooms apart in a log without giving one away.
    m_log(QStringLiteral("room %1 %2 %3 (%4 rooms, %5 members)")
              .arg(QString::fromStdString(room.substr(0, 8)), QLatin1String(roleName(role)), what)
              .arg(m_rooms.size())
              .arg(m_members));
}

} // namespace orvane::relay

#include "single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <unistd.h>

namespace orvane {

namespace {

constexpr int connectMs = 1000;
constexpr int answerMs = 3000;
const QByteArray showRequest = "show\n";

QString runtimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

} // namespace

SingleInstance::SingleInstance(const QString& settingsPath)
{
    QByteArray key =
        QCryptographicHash::hash(QDir::cleanPath(settingsPath).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    m_path = runtimeFolder() +
             QStringLiteral("/orvane-%1-%2").arg(::getuid()).arg(QString::fromLatin1(key));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim(QString* answer)
{
    // Two launches at once must not both decide they are the first.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    lock.tryLock(answerMs + connectMs);
    if (askRunningCopy(answer))
        return false;
    // Nobody answers: what is left is a socket of a copy that died.
    QLocalServer::removeServer(m_path);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(),
                     [this] { this->answer(); });
    if (!m_server->listen(m_path))
        m_server.reset(); // run anyway; only later launches cannot find us
    return true;
}

bool SingleInstance::askRunningCopy(QString* answer)
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(connectMs))
        return false;
    socket.write(showRequest);
    socket.flush();
    QByteArray reply;
    while (!reply.contains('\n') && socket.waitForReadyRead(answerMs))
        reply += socket.readAll();
    if (answer)
        *answer = QString::fromUtf8(reply).trimmed();
    return true;
}

void SingleInstance::answer()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (!socket->canReadLine())
                return;
            QByteArray request = socket->readLine();
            QString reply = QStringLiteral("unknown");
            if (request == showRequest)
                reply = onShowRequest ? onShowRequest() : QStringLiteral("headless");
            socket->write(reply.toUtf8() + '\n');
            socket->disconnectFromServer();
        });
    }
}

} // namespace orvane

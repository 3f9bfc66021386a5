#include "mutter_clipboard.h"

#include "platform/linux/pipe_writer.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace orvane {

namespace {

const QString service = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString sessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
const QString utf8Text = QStringLiteral("text/plain;charset=utf-8");

// Wayland's names first, then those that programs under Xwayland ask for.
// Every one is answered in UTF-8: the legacy names carry Latin-1 in theory,
// but the programs that still ask for them take UTF-8 in practice, and a
// lossy Latin-1 copy would paste question marks instead.
const QStringList offeredTypes{utf8Text, QStringLiteral("UTF8_STRING"),
                               QStringLiteral("text/plain"), QStringLiteral("STRING"),
                               QStringLiteral("TEXT")};

// Pastes answered at once; more than this is a program gone wrong, refused.
constexpr int maxWriters = 16;
// Larger texts on the desktop's clipboard are not taken.
constexpr qsizetype maxReadBytes = qsizetype(16) << 20;
// Mutter answers in milliseconds; this only bounds a hung compositor.
constexpr int callTimeoutMs = 5000;

// Everything the owner writes into `fd` until it closes it, or nothing when
// that takes past `deadline` or grows past the bound.
std::optional<QByteArray> readAll(int fd, const QDeadlineTimer& deadline)
{
    QByteArray bytes;
    char chunk[65536];
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return std::nullopt;
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0)
            return bytes;
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0 || bytes.size() + n > maxReadBytes)
            return std::nullopt;
        bytes.append(chunk, n);
    }
}

// The types an owner offers. Mutter 43 sends them as a structure that holds
// the list; a bare list is read too. Anything else offers nothing.
QStringList typesOf(const QVariant& value)
{
    QStringList types;
    if (!value.canConvert<QDBusArgument>())
        return value.toStringList();
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() == QLatin1String("as")) {
        argument >> types;
    } else if (argument.currentSignature() == QLatin1String("(as)")) {
        argument.beginStructure();
        argument >> types;
        argument.endStructure();
    }
    return types;
}

} // namespace

struct MutterClipboard::Private {
    QDBusConnection bus{QString()};
    QString path;
    // Our last offer: what every paste of it is answered with.
    QString text;
    bool owned = false;
    // What the clipboard's owner offers, as mutter last told.
    std::optional<QStringList> ownerTypes;
    // Offers sent whose answer has not been handled yet.
    int offersUnderWay = 0;
    int writers = 0;

    QDBusMessage method(const QString& name, const QVariantList& arguments = {}) const
    {
        QDBusMessage message =
            QDBusMessage::createMethodCall(service, path, sessionInterface, name);
        message.setArguments(arguments);
        return message;
    }

    QDBusMessage setSelection() const
    {
        return method(QStringLiteral("SetSelection"),
                      {QVariantMap{{QStringLiteral("mime-types"), offeredTypes}}});
    }

    // The type to read the owner's text in; empty when it offers no text.
    // Programs on Xwayland may lack the Wayland name but have the X11 one.
    QString textType() const
    {
        if (!ownerTypes)
            return utf8Text; // not heard yet: the type nearly every program has
        for (const QString& type :
             {utf8Text, QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain")})
            if (ownerTypes->contains(type))
                return type;
        return QString();
    }

    void writeDone(uint serial, bool written)
    {
        bus.send(method(QStringLiteral("SelectionWriteDone"), {QVariant(serial), written}));
    }
};

MutterClipboard::MutterClipboard(QDBusConnection bus, QString sessionPath, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>())
{
    d->bus = std::move(bus);
    d->path = std::move(sessionPath);
    d->bus.connect(service, d->path, sessionInterface, QStringLiteral("SelectionTransfer"), this,
                   SLOT(selectionTransfer(QString, uint)));
    d->bus.connect(service, d->path, sessionInterface, QStringLiteral("SelectionOwnerChanged"),
                   this, SLOT(selectionOwnerChanged(QVariantMap)));
    // Mutter takes the clipboard calls before the session is started, and
    // an offer made then is on the desktop's clipboard at once: the
    // clipboard needs neither the session's input devices nor its streams.
    // So nothing here waits for Start, which the session's owner may send
    // later or never (a session that only reads the clipboard). Enabling
    // twice fails harmlessly, hence no answer is awaited.
    d->bus.send(d->method(QStringLiteral("EnableClipboard"), {QVariantMap{}}));
}

MutterClipboard::~MutterClipboard()
{
    d->bus.disconnect(service, d->path, sessionInterface, QStringLiteral("SelectionTransfer"), this,
                      SLOT(selectionTransfer(QString, uint)));
    d->bus.disconnect(service, d->path, sessionInterface, QStringLiteral("SelectionOwnerChanged"),
                      this, SLOT(selectionOwnerChanged(QVariantMap)));
    // Also tells mutter that the pastes still being written end here.
    d->bus.send(d->method(QStringLiteral("DisableClipboard")));
}

void MutterClipboard::offer(const QString& text, std::function<void(bool offered)> done)
{
    d->text = text;
    ++d->offersUnderWay;
    auto* watcher =
        new QDBusPendingCallWatcher(d->bus.asyncCall(d->setSelection(), callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, done = std::move(done)] {
                watcher->deleteLater();
                --d->offersUnderWay;
                d->owned = !watcher->isError();
                if (done)
                    done(d->owned);
            });
}

bool MutterClipboard::offerNow(const QString& text, int timeoutMs)
{
    d->text = text;
    ++d->offersUnderWay;
    const QDBusMessage reply = d->bus.call(d->setSelection(), QDBus::Block, timeoutMs);
    d->owned = reply.type() == QDBusMessage::ReplyMessage;
    // Mutter asked for its own copy before it answered, and that request
    // waits in the event queue: it must still be told from a paste.
    QMetaObject::invokeMethod(
        this, [this] { --d->offersUnderWay; }, Qt::QueuedConnection);
    return d->owned;
}

std::optional<QString> MutterClipboard::read(int timeoutMs)
{
    // Mutter refuses a session the reading of its own selection, and would
    // otherwise ask us for it while we wait: our copy is the answer.
    if (d->owned || d->offersUnderWay > 0)
        return d->text;
    const QString type = d->textType();
    if (type.isEmpty())
        return std::nullopt;
    const QDeadlineTimer deadline(qMax(0, timeoutMs));
    const QDBusMessage reply = d->bus.call(d->method(QStringLiteral("SelectionRead"), {type}),
                                           QDBus::Block, qMax(1, timeoutMs));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt; // no owner, or one gone meanwhile
    const auto pipe = reply.arguments().first().value<QDBusUnixFileDescriptor>();
    if (!pipe.isValid())
        return std::nullopt;
    const std::optional<QByteArray> bytes = readAll(pipe.fileDescriptor(), deadline);
    if (!bytes)
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

bool MutterClipboard::ownsSelection() const
{
    return d->owned;
}

void MutterClipboard::selectionTransfer(const QString& mimeType, uint serial)
{
    // While an offer is being made mutter reads it once for itself (it
    // keeps the clipboard's text so that it outlives its owner). No program
    // can paste before the offer is confirmed, so that is not a paste.
    const bool pasted = d->offersUnderWay == 0;
    if (!offeredTypes.contains(mimeType) || d->writers >= maxWriters) {
        d->writeDone(serial, false);
        return;
    }
    writeSelection(serial, pasted);
}

void MutterClipboard::writeSelection(uint serial, bool pasted)
{
    ++d->writers;
    const QByteArray bytes = d->text.toUtf8(); // the text asked for, whatever is offered later
    auto* watcher = new QDBusPendingCallWatcher(
        d->bus.asyncCall(d->method(QStringLiteral("SelectionWrite"), {QVariant(serial)}),
                         callTimeoutMs),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, serial, pasted, bytes] {
                watcher->deleteLater();
                const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
                // The descriptor goes with the reply; the writer keeps its own.
                int fd = -1;
                if (reply.isValid() && reply.value().isValid())
                    fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
                if (fd < 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) < 0) {
                    if (fd >= 0)
                        ::close(fd);
                    finishTransfer(serial, false, pasted);
                    return;
                }
                auto* writer = new PipeWriter(fd, bytes, this);
                writer->start([this, serial, pasted](bool written) {
                    finishTransfer(serial, written, pasted);
                });
            });
}

void MutterClipboard::finishTransfer(uint serial, bool written, bool pasted)
{
    --d->writers;
    d->writeDone(serial, written);
    if (written && pasted)
        Q_EMIT transferred();
}

void MutterClipboard::selectionOwnerChanged(const QVariantMap& options)
{
    d->ownerTypes = typesOf(options.value(QStringLiteral("mime-types")));
    if (options.value(QStringLiteral("session-is-owner")).toBool() || !d->owned)
        return;
    d->owned = false;
    Q_EMIT lostSelection();
}

} // namespace orvane

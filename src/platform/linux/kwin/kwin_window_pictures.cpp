#include "kwin_window_pictures.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orvane {

namespace {

Q_LOGGING_CATEGORY(lcKWinPictures, "orvane.kwin.pictures")

const QString screenShotService = QStringLiteral("org.kde.KWin.ScreenShot2");
const QString screenShotPath = QStringLiteral("/org/kde/KWin/ScreenShot2");
const QString screenShotInterface = QStringLiteral("org.kde.KWin.ScreenShot2");
const QString notAuthorized = QStringLiteral("org.kde.KWin.ScreenShot2.Error.NoAuthorized");

// A picture not read whole in this time is given up: KWin may be busy, or
// the window gone.
constexpr int pictureDeadlineMs = 3000;
// KWin looks at its desktop entries again after a second and a half at the
// soonest; asking sooner after a refusal only gets another.
constexpr int refusedPauseMs = 2000;
// What one turn of the event loop reads at most, so that a large window
// cannot hold it up.
constexpr qint64 maxReadPerTurn = 1 << 20;

} // namespace

KWinWindowPictures::KWinWindowPictures(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
}

KWinWindowPictures::~KWinWindowPictures()
{
    delete m_notifier;
    if (m_pipe >= 0)
        ::close(m_pipe);
}

std::optional<QByteArray> KWinWindowPictures::jpeg(const QString& window, int width, int height,
                                                   int quality)
{
    if (window.isEmpty() || !Shelf::fits(width, height))
        return std::nullopt;
    const bool refused = m_refused.isValid() && m_refused.elapsed() < refusedPauseMs;
    if (!refused && m_shelf.ask(window, width, height, quality))
        QTimer::singleShot(0, this, [this] { next(); });
    return m_shelf.picture(window, width, height);
}

void KWinWindowPictures::keepOnly(const std::set<QString>& windows)
{
    m_shelf.keepOnly(windows);
}

void KWinWindowPictures::next()
{
    if (!m_shelf.ready())
        return;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcKWinPictures) << "no pipe for a window picture:" << strerror(errno);
        m_shelf.dropWanted();
        return;
    }
    const Shelf::Wanted& wanted = m_shelf.start();
    m_pipe = ends[0];
    // The message holds its own copy of the writing end until it is sent.
    const QDBusUnixFileDescriptor writing(ends[1]);
    ::close(ends[1]);
    const unsigned generation = ++m_generation;
    QTimer::singleShot(pictureDeadlineMs, this, [this, generation] {
        if (generation == m_generation)
            finish();
    });
    // The window as the user sees it, with its title bar, without the pointer.
    const QVariantMap options{{QStringLiteral("include-decoration"), true},
                              {QStringLiteral("include-shadow"), false},
                              {QStringLiteral("include-cursor"), false}};
    QDBusMessage call = QDBusMessage::createMethodCall(
        screenShotService, screenShotPath, screenShotInterface, QStringLiteral("CaptureWindow"));
    call.setArguments({wanted.window, options, QVariant::fromValue(writing)});
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, pictureDeadlineMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* w) {
                // Deleting the call lets go of our copy of the writing end.
                w->deleteLater();
                if (generation == m_generation)
                    answered(w->reply());
            });
}

void KWinWindowPictures::answered(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (reply.errorName() == notAuthorized) {
            m_refused.start();
            if (!std::exchange(m_warned, true))
                qCWarning(lcKWinPictures).noquote()
                    << "KWin gives this program no pictures of windows (" + reply.errorMessage() +
                           "); it gives them to a program whose desktop entry has the line Exec=" +
                           QCoreApplication::applicationFilePath()
                    << "(its executable, nothing more) and X-KDE-DBUS-Restricted-Interfaces=" +
                           screenShotInterface;
        } else {
            qCDebug(lcKWinPictures)
                << "no picture of a window:" << reply.errorName() << reply.errorMessage();
        }
        return finish();
    }
    m_refused.invalidate();
    // A dictionary comes as a D-Bus argument still to be read.
    const QVariant results = reply.arguments().value(0);
    m_layout = kwinRawImage(results.canConvert<QDBusArgument>()
                                ? qdbus_cast<QVariantMap>(results.value<QDBusArgument>())
                                : results.toMap());
    if (!m_layout) {
        qCDebug(lcKWinPictures) << "a window picture we cannot read:" << reply.arguments();
        return finish();
    }
    m_data.resize(m_layout->bytes());
    m_read = 0;
    m_notifier = new QSocketNotifier(m_pipe, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { readable(); });
    readable();
}

void KWinWindowPictures::readable()
{
    qint64 turn = 0;
    while (m_read < m_data.size() && turn < maxReadPerTurn) {
        const qint64 want = std::min(m_data.size() - m_read, maxReadPerTurn - turn);
        const ssize_t got = ::read(m_pipe, m_data.data() + m_read, std::size_t(want));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return; // the rest comes later
        if (got <= 0)
            return finish(); // KWin stopped short
        m_read += got;
        turn += got;
    }
    if (m_read == m_data.size())
        framed();
}

void KWinWindowPictures::framed()
{
    m_shelf.store(kwinPixels(*m_layout, m_data));
    finish();
}

void KWinWindowPictures::finish()
{
    ++m_generation;
    // This may run in the notifier's own signal: it goes once that is over.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_pipe >= 0)
        ::close(m_pipe);
    m_pipe = -1;
    m_layout.reset();
    m_data = QByteArray();
    m_read = 0;
    m_shelf.finish();
    QTimer::singleShot(0, this, [this] { next(); });
}

} // namespace orvane

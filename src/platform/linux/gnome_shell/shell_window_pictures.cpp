#include "shell_window_pictures.h"

#include "platform/linux/mutter/mutter_names.h"
#include "platform/linux/pipewire/pipewire_stream_reader.h"
#include "platform/linux/x11/x11_windows_image.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QTimer>

namespace orvane {

namespace {

// A cast that shows nothing in this time is given up: the window may be
// hidden, or the shell busy.
constexpr int castDeadlineMs = 3000;
constexpr int callTimeoutMs = 2000;

} // namespace

ShellWindowPictures::ShellWindowPictures(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
}

ShellWindowPictures::~ShellWindowPictures()
{
    m_reader.reset();
    if (!m_session.isEmpty())
        m_bus.send(castCall(m_session, mutter::castSessionInterface, "Stop"));
}

std::optional<QByteArray> ShellWindowPictures::jpeg(std::uint64_t window, int width, int height,
                                                    int quality)
{
    if (!Shelf::fits(width, height))
        return std::nullopt;
    if (m_shelf.ask(window, width, height, quality))
        QTimer::singleShot(0, this, [this] { next(); });
    return m_shelf.picture(window, width, height);
}

void ShellWindowPictures::keepOnly(const std::set<std::uint64_t>& windows)
{
    m_shelf.keepOnly(windows);
}

QDBusMessage ShellWindowPictures::castCall(const QString& path, const QString& interface,
                                           const char* method, const QVariantList& arguments)
{
    auto message = QDBusMessage::createMethodCall(mutter::screenCastService, path, interface,
                                                  QLatin1String(method));
    message.setArguments(arguments);
    return message;
}

void ShellWindowPictures::call(const QDBusMessage& message,
                               std::function<void(const QDBusMessage&)> done)
{
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, done = std::move(done), generation = m_generation](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (generation != m_generation)
                    return; // that cast was given up
                if (w->reply().type() != QDBusMessage::ReplyMessage)
                    return finish();
                done(w->reply());
            });
}

void ShellWindowPictures::next()
{
    if (!m_shelf.ready())
        return;
    m_shelf.start();
    const unsigned generation = ++m_generation;
    QTimer::singleShot(castDeadlineMs, this, [this, generation] {
        if (generation == m_generation)
            finish();
    });
    call(castCall(mutter::screenCastPath, mutter::screenCastInterface, "CreateSession",
                  {QVariantMap{}}),
         [this](const QDBusMessage& reply) {
             recordWindow(reply.arguments().value(0).value<QDBusObjectPath>().path());
         });
}

void ShellWindowPictures::recordWindow(const QString& session)
{
    m_session = session;
    // Without the pointer: a picture of the window, not of where the user points.
    const QVariantMap properties{
        {"window-id", QVariant::fromValue(qulonglong(m_shelf.current()->window))},
        {"cursor-mode", 0u}};
    call(castCall(session, mutter::castSessionInterface, "RecordWindow", {properties}),
         [this](const QDBusMessage& reply) {
             m_stream = reply.arguments().value(0).value<QDBusObjectPath>().path();
             m_bus.connect(mutter::screenCastService, m_stream, mutter::castStreamInterface,
                           QStringLiteral("PipeWireStreamAdded"), this, SLOT(streamAdded(uint)));
             call(castCall(m_session, mutter::castSessionInterface, "Start"),
                  [](const QDBusMessage&) {});
         });
}

void ShellWindowPictures::streamAdded(uint node)
{
    if (!m_shelf.current() || m_reader)
        return;
    PipeWireStreamReader::Target target;
    target.stream.nodeId = node;
    QString error;
    const unsigned generation = m_generation;
    // The reader calls from its own thread; the picture is made on ours.
    m_reader = PipeWireStreamReader::open(
        target,
        [this, generation](CaptureEvent event) {
            const CapturedImage& image = event.image;
            if (event.status != CaptureEvent::Status::newContent || !image.pixels ||
                image.width < 1 || image.height < 1 || image.width > Shelf::maxSide ||
                image.height > Shelf::maxSide || image.stride < image.width * 4)
                return;
            ScreenPixels pixels{event.image.width, event.image.height, {}};
            pixels.rgb.reserve(std::size_t(pixels.width) * pixels.height);
            for (int y = 0; y < pixels.height; ++y) {
                const auto* row = reinterpret_cast<const std::uint32_t*>(
                    event.image.pixels + std::ptrdiff_t(y) * event.image.stride);
                for (int x = 0; x < pixels.width; ++x)
                    pixels.rgb.push_back(row[x] & 0xFFFFFFu);
            }
            QMetaObject::invokeMethod(
                this,
                [this, generation, pixels = std::move(pixels)] {
                    if (generation == m_generation)
                        framed(pixels);
                },
                Qt::QueuedConnection);
        },
        [](QString, bool) {}, nullptr, &error);
    if (!m_reader)
        finish();
}

void ShellWindowPictures::framed(const ScreenPixels& pixels)
{
    m_shelf.store(pixels);
    finish();
}

void ShellWindowPictures::finish()
{
    ++m_generation;
    m_reader.reset();
    if (!m_stream.isEmpty())
        m_bus.disconnect(mutter::screenCastService, m_stream, mutter::castStreamInterface,
                         QStringLiteral("PipeWireStreamAdded"), this, SLOT(streamAdded(uint)));
    if (!m_session.isEmpty())
        m_bus.send(castCall(m_session, mutter::castSessionInterface, "Stop"));
    m_session.clear();
    m_stream.clear();
    m_shelf.finish();
    QTimer::singleShot(0, this, [this] { next(); });
}

} // namespace orvane

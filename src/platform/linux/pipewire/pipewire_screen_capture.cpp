#include "pipewire_screen_capture.h"

#include "pipewire_stream_reader.h"

#include <QCoreApplication>
#include <QObject>

#include <algorithm>

namespace orvane {

namespace {

QString text(const char* sentence)
{
    return QCoreApplication::translate("PipeWireScreenCapture", sentence);
}

// Streams are asked for and ended on the main thread; the pictures come on
// the stream's own thread straight to the sink.
class PipeWireScreenCapture final : public ScreenCapture {
public:
    PipeWireScreenCapture(std::shared_ptr<ScreenStreamOpener> streams,
                          std::shared_ptr<StreamCursor> cursor)
        : m_streams(std::move(streams)), m_cursor(std::move(cursor))
    {
    }
    ~PipeWireScreenCapture() override { stop(); }

    bool available() override { return m_streams && m_streams->available(); }
    std::vector<CaptureDisplay> displays() override
    {
        return m_streams ? m_streams->displays() : std::vector<CaptureDisplay>{};
    }

    bool start(std::uint32_t displayID, int framesPerSecond, EventSink onEvent,
               QString* error) override
    {
        stop();
        if (const std::optional<QString> refused = check(displayID)) {
            if (error)
                *error = *refused;
            return false;
        }
        m_sink = std::make_shared<EventSink>(std::move(onEvent));
        m_running = true;
        m_rate = framesPerSecond;
        open(displayID);
        return true;
    }

    bool reconfigure(std::uint32_t displayID, int framesPerSecond, QString* error) override
    {
        std::optional<QString> refused =
            m_running ? check(displayID) : text("The screen is not being captured");
        if (refused) {
            if (error)
                *error = *refused;
            return false;
        }
        m_rate = framesPerSecond;
        if (displayID != m_displayID || (!m_reader && !m_opening))
            open(displayID);
        else if (m_reader)
            m_reader->setRate(framesPerSecond);
        // While a stream is being opened, it starts at the new rate.
        return true;
    }

    void refresh() override
    {
        if (m_reader)
            m_reader->refresh();
    }

    void stop() override
    {
        m_running = false;
        close();
        m_sink.reset();
    }

private:
    std::optional<QString> check(std::uint32_t displayID)
    {
        if (!available())
            return text("The display cannot be reached");
        const std::vector<CaptureDisplay> known = displays();
        if (std::none_of(known.begin(), known.end(),
                         [&](const CaptureDisplay& d) { return d.id == displayID; }))
            return text("No display found to share");
        return std::nullopt;
    }

    // Ends the stream; whatever it still says is for nobody.
    void close()
    {
        ++m_generation;
        m_opening = false;
        m_reader.reset();
        m_keepOpen.reset(); // after the stream: the desktop ends its side
        if (m_cursor)
            m_cursor->set(std::nullopt);
    }

    void open(std::uint32_t displayID)
    {
        close();
        m_displayID = displayID;
        m_opening = true;
        const std::uint64_t generation = m_generation;
        m_streams->open(displayID, [this, alive = std::weak_ptr<int>(m_alive), generation](
                                       std::optional<ScreenStreamHandle> stream, QString error) {
            if (alive.expired() || generation != m_generation)
                return; // the handle goes, and with it the desktop's side
            m_opening = false;
            if (!stream) {
                ended(error.isEmpty() ? text("The display cannot be reached") : error, false);
                return;
            }
            attach(*stream);
        });
    }

    void attach(const ScreenStreamHandle& stream)
    {
        const std::uint64_t generation = m_generation;
        auto endedLater = [this, generation](QString reason, bool lost) {
            // Posted to an object of this capture: gone with it.
            QMetaObject::invokeMethod(
                &m_context,
                [this, generation, reason, lost] {
                    if (generation == m_generation)
                        ended(reason, lost);
                },
                Qt::QueuedConnection);
        };
        QString error;
        m_reader = PipeWireStreamReader::open(
            {stream, m_displayID, m_rate}, [sink = m_sink](CaptureEvent event) { (*sink)(event); },
            endedLater, m_cursor, &error);
        if (!m_reader) {
            ended(error, false);
            return;
        }
        m_keepOpen = stream.keepOpen;
    }

    // The stream ended by itself. A display that is no longer listed is
    // gone; anything else stops the capture.
    void ended(const QString& reason, bool lost)
    {
        const std::shared_ptr<EventSink> sink = m_sink;
        close();
        if (!sink)
            return;
        const std::vector<CaptureDisplay> known = lost ? displays() : std::vector<CaptureDisplay>{};
        const bool listed = std::any_of(known.begin(), known.end(), [&](const CaptureDisplay& d) {
            return d.id == m_displayID;
        });
        if (lost && !listed)
            (*sink)({CaptureEvent::Status::displayGone, {}, {}});
        else
            (*sink)({CaptureEvent::Status::error, {}, reason});
    }

    std::shared_ptr<ScreenStreamOpener> m_streams;
    std::shared_ptr<StreamCursor> m_cursor;
    std::shared_ptr<EventSink> m_sink;
    bool m_running = false;
    bool m_opening = false;
    std::uint32_t m_displayID = 0;
    int m_rate = 1;
    std::uint64_t m_generation = 0;
    std::unique_ptr<PipeWireStreamReader> m_reader;
    std::shared_ptr<void> m_keepOpen;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    QObject m_context;
};

} // namespace

std::unique_ptr<ScreenCapture>
makePipeWireScreenCapture(std::shared_ptr<ScreenStreamOpener> streams,
                          std::shared_ptr<StreamCursor> cursor)
{
    return std::make_unique<PipeWireScreenCapture>(std::move(streams), std::move(cursor));
}

} // namespace orvane

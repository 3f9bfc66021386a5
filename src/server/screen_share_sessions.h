#pragma once

#include "capture/screen_streamer.h"
#include "commands/phone_queries.h"
#include "commands/pointer_driver.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <map>
#include <set>

namespace orvane {

class ConnectionHub;

// The phones that watch the screen, full size or as a small preview, and the
// one streamer that serves them: its settings follow who watches, each
// picture goes to every viewer with one picture in flight for all of them,
// and the cursor position follows while anyone watches.
class ScreenShareSessions : public QObject {
    Q_OBJECT
public:
    static constexpr int cursorIntervalMs = 33;
    static constexpr double cursorThreshold = 0.0005;
    // A viewer whose picture is still not sent after this long is dropped,
    // so it cannot hold up everyone else.
    static constexpr int stuckViewerMs = 10'000;

    ScreenShareSessions(ConnectionHub& hub, ScreenStreamer& streamer, PhoneQueries& queries,
                        PointerDriver& pointer, std::function<bool()> screenRecordingGranted,
                        std::function<qint64()> monotonicMs);

    void start(const Uuid& id, bool preview);
    void stop(const Uuid& id);
    void selectDisplay(std::uint32_t displayID);
    void stopAll(const QString& text);
    void screensChanged();

    const QStringList& viewerNames() const { return m_viewerNames; }
    const QStringList& previewNames() const { return m_previewNames; }
    // The display that pointer events land on.
    std::uint32_t selectedDisplay() const;
    std::int64_t framesInFlight() const { return m_framesInFlight; }

    // The periodic work, run by the timers; public so that tests run it on
    // their own clock. The cursor is sent when it moved past the threshold;
    // the viewers a picture has not reached within stuckViewerMs of the
    // server's clock are dropped.
    void cursorTick();
    void dropStuckViewers();

    static ScreenStreamer::Settings settingsFor(const std::map<Uuid, bool>& viewers,
                                                const std::function<bool(const Uuid&)>& isRelay);

Q_SIGNALS:
    void viewersChanged();

private:
    void update();
    void viewersMoved();
    void deliverFrame(const std::shared_ptr<const Bytes>& jpeg);
    void sent(std::uint64_t frame, const Uuid& id);
    void sendDisplays();
    QString startFailure(const QString& error) const;

    ConnectionHub& m_hub;
    ScreenStreamer& m_streamer;
    PhoneQueries& m_queries;
    PointerDriver& m_pointer;
    std::function<bool()> m_screenRecordingGranted;
    std::function<qint64()> m_monotonicMs;
    std::map<Uuid, bool> m_viewers; // connection id -> preview
    QStringList m_viewerNames;
    QStringList m_previewNames;
    std::int64_t m_framesInFlight = 0;
    std::uint64_t m_frame = 0;   // the picture now on its way
    std::set<Uuid> m_waitingFor; // viewers it has not reached yet
    qint64 m_sentAtMs = 0;       // when it went out
    QTimer m_stuckTimer;
    QTimer m_cursorTimer;
    std::optional<Point> m_lastCursor;
};

} // namespace orvane

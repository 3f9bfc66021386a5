#include "screen_share_sessions.h"

#include "connection_hub.h"

#include <QPointer>

#include <cmath>

namespace orvane {

ScreenShareSessions::ScreenShareSessions(ConnectionHub& hub, ScreenStreamer& streamer,
                                         PhoneQueries& queries, PointerDriver& pointer,
                                         std::function<bool()> screenRecordingGranted,
                                         std::function<qint64()> monotonicMs)
    : m_hub(hub), m_streamer(streamer), m_queries(queries), m_pointer(pointer),
      m_screenRecordingGranted(std::move(screenRecordingGranted)),
      m_monotonicMs(std::move(monotonicMs))
{
    m_streamer.onFrame = [this](std::shared_ptr<const Bytes> jpeg) { deliverFrame(jpeg); };
    m_streamer.onStop = [this](const QString& reason) {
        stopAll(tr("Screen sharing stopped: ") + reason);
    };
    m_cursorTimer.setInterval(cursorIntervalMs);
    m_cursorTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_cursorTimer, &QTimer::timeout, this, &ScreenShareSessions::cursorTick);
    m_stuckTimer.setSingleShot(true);
    connect(&m_stuckTimer, &QTimer::timeout, this, &ScreenShareSessions::dropStuckViewers);
    connect(&hub, &ConnectionHub::connectionClosed, this, &ScreenShareSessions::stop);
}

void ScreenShareSessions::start(const Uuid& id, bool preview)
{
    auto before = m_viewers.find(id);
    const bool wasFull = before != m_viewers.end() && !before->second;
    m_viewers[id] = preview;
    viewersMoved();
    if (!preview && !wasFull)
        m_hub.addActivity(tr("Started viewing the screen"), m_hub.deviceName(id), true);
    update();
    m_streamer.refresh(); // a new viewer never starts on a blank screen
}

void ScreenShareSessions::stop(const Uuid& id)
{
    if (m_viewers.erase(id) == 0)
        return;
    if (m_waitingFor.erase(id) && --m_framesInFlight < 1)
        m_streamer.frameDone();
    viewersMoved();
    update();
}

void ScreenShareSessions::viewersMoved()
{
    QStringList full, previews;
    for (const auto& device : m_hub.devices()) {
        auto viewer = m_viewers.find(device.id);
        if (viewer != m_viewers.end())
            (viewer->second ? previews : full) << device.name;
    }
    m_viewerNames = full;
    m_previewNames = previews;
    if (m_viewers.empty()) {
        m_cursorTimer.stop();
        m_lastCursor.reset();
    } else if (!m_cursorTimer.isActive()) {
        m_cursorTimer.start();
    }
    Q_EMIT viewersChanged();
}

ScreenStreamer::Settings
ScreenShareSessions::settingsFor(const std::map<Uuid, bool>& viewers,
                                 const std::function<bool(const Uuid&)>& isRelay)
{
    bool anyFull = false;
    bool fullOnTheNetwork = false;
    for (const auto& [id, preview] : viewers) {
        if (preview)
            continue;
        anyFull = true;
        fullOnTheNetwork = fullOnTheNetwork || !isRelay(id);
    }
    if (!anyFull)
        return {720, 3};
    return fullOnTheNetwork ? ScreenStreamer::Settings{1600, 15}
                            : ScreenStreamer::Settings{1180, 8};
}

void ScreenShareSessions::update()
{
    if (m_viewers.empty()) {
        m_streamer.stop();
        return;
    }
    auto settings = settingsFor(m_viewers, [this](const Uuid& id) {
        auto connection = m_hub.connection(id);
        return connection && connection->isRelay();
    });
    if (!m_streamer.isRunning())
        m_framesInFlight = 0;
    QPointer<ScreenShareSessions> self(this);
    m_streamer.apply(settings, [self](std::optional<QString> error) {
        if (!self)
            return;
        if (error)
            self->stopAll(self->startFailure(*error));
        else
            self->sendDisplays();
    });
}

QString ScreenShareSessions::startFailure(const QString& error) const
{
    if (m_screenRecordingGranted && !m_screenRecordingGranted())
        return tr("Screen Recording permission required on the Mac: System Settings › Privacy & "
                  "Security › Screen & System Audio Recording");
    return tr("Screen sharing didn't start: ") + error;
}

void ScreenShareSessions::stopAll(const QString& text)
{
    for (const auto& [id, preview] : m_viewers)
        m_hub.sendMessage(msg::ScreenShareError{{text.toStdString()}}, id);
    m_viewers.clear();
    m_waitingFor.clear();
    m_stuckTimer.stop();
    viewersMoved();
    m_streamer.stop();
}

void ScreenShareSessions::deliverFrame(const std::shared_ptr<const Bytes>& jpeg)
{
    std::vector<std::shared_ptr<FramedConnection>> recipients;
    std::vector<Uuid> ids;
    for (const auto& [id, preview] : m_viewers)
        if (auto connection = m_hub.connection(id)) {
            recipients.push_back(connection);
            ids.push_back(id);
        }
    if (recipients.empty()) {
        m_streamer.frameDone();
        return;
    }
    const std::uint64_t frame = ++m_frame;
    m_framesInFlight = static_cast<std::int64_t>(recipients.size());
    m_waitingFor = std::set<Uuid>(ids.begin(), ids.end());
    m_sentAtMs = m_monotonicMs();
    m_stuckTimer.start(stuckViewerMs);
    QPointer<ScreenShareSessions> self(this);
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        recipients[i]->sendSealed(FrameKind::binary, *jpeg,
                                  [self, frame, id = ids[i]](const std::optional<QString>&) {
                                      if (self)
                                          self->sent(frame, id);
                                  });
    }
}

void ScreenShareSessions::sent(std::uint64_t frame, const Uuid& id)
{
    // A late completion of a picture whose viewer was dropped counts no more.
    if (frame != m_frame || m_waitingFor.erase(id) == 0)
        return;
    if (--m_framesInFlight < 1) {
        m_stuckTimer.stop();
        m_streamer.frameDone();
    }
}

void ScreenShareSessions::dropStuckViewers()
{
    if (m_waitingFor.empty())
        return;
    // A coarse timer may fire a little early: look again when the time is up.
    const qint64 left = stuckViewerMs - (m_monotonicMs() - m_sentAtMs);
    if (left > 0) {
        if (!m_stuckTimer.isActive())
            m_stuckTimer.start(int(left));
        return;
    }
    const std::set<Uuid> stuck = m_waitingFor;
    for (const Uuid& id : stuck) {
        m_hub.sendMessage(
            msg::ScreenShareError{
                {tr("Screen sharing stopped: the connection is too slow").toStdString()}},
            id);
        stop(id);
    }
}

std::uint32_t ScreenShareSessions::selectedDisplay() const
{
    if (m_streamer.isRunning())
        return m_streamer.displayID();
    return m_streamer.preferredDisplayID().value_or(m_streamer.displayID());
}

void ScreenShareSessions::sendDisplays()
{
    std::vector<DisplayInfo> list = m_queries.displays();
    std::uint32_t selected = selectedDisplay();
    const bool listed = std::any_of(list.begin(), list.end(),
                                    [&](const DisplayInfo& d) { return d.id == selected; });
    if (!list.empty() && !listed) {
        auto main =
            std::find_if(list.begin(), list.end(), [](const DisplayInfo& d) { return d.isMain; });
        selected = main != list.end() ? main->id : list.front().id;
    }
    for (const auto& [id, preview] : m_viewers)
        m_hub.sendMessage(msg::Displays{list, selected}, id);
}

void ScreenShareSessions::selectDisplay(std::uint32_t displayID)
{
    QPointer<ScreenShareSessions> self(this);
    m_streamer.selectDisplay(displayID, [self](std::optional<QString> error) {
        if (!self)
            return;
        if (error)
            self->m_hub.addActivity(tr("Couldn't switch display"), thisComputer(), false);
        self->sendDisplays();
    });
}

void ScreenShareSessions::screensChanged()
{
    if (m_viewers.empty())
        return;
    std::vector<DisplayInfo> list = m_queries.displays();
    const std::uint32_t current = selectedDisplay();
    const bool present = std::any_of(list.begin(), list.end(),
                                     [&](const DisplayInfo& d) { return d.id == current; });
    if (!present && !list.empty()) {
        auto main =
            std::find_if(list.begin(), list.end(), [](const DisplayInfo& d) { return d.isMain; });
        selectDisplay(main != list.end() ? main->id : list.front().id);
        return;
    }
    sendDisplays();
}

void ScreenShareSessions::cursorTick()
{
    auto cursor = m_pointer.cursorOn(selectedDisplay());
    if (!cursor)
        return;
    if (m_lastCursor && std::abs(cursor->x - m_lastCursor->x) < cursorThreshold &&
        std::abs(cursor->y - m_lastCursor->y) < cursorThreshold)
        return;
    m_lastCursor = cursor;
    for (const auto& [id, preview] : m_viewers)
        m_hub.sendMessage(msg::Cursor{cursor->x, cursor->y}, id);
}

} // namespace orvane

#include "update_publisher.h"

#include "connection_hub.h"

#include <QPointer>

namespace orvane {

namespace {

// Album, position, duration and artwork change while a track plays; the
// phone corrects those from the regular re-send.
bool sameTrack(const std::optional<NowPlaying>& a, const std::optional<NowPlaying>& b)
{
    if (!a || !b)
        return !a && !b;
    return a->title == b->title && a->artist == b->artist && a->player == b->player &&
           a->isPlaying == b->isPlaying && a->volume == b->volume;
}

// Every fourth unchanged poll (6 s) the track goes out anyway.
constexpr std::int64_t forcedSendEvery = 4;

template <class T> bool changed(T& field, T value)
{
    if (field == value)
        return false;
    field = std::move(value);
    return true;
}

} // namespace

UpdatePublisher::UpdatePublisher(ConnectionHub& hub, PhoneQueries& queries, WorkspaceEvents* events,
                                 Checks checks, std::function<qint64()> monotonicMs)
    : m_hub(hub), m_queries(queries), m_events(events), m_checks(std::move(checks)),
      m_monotonicMs(std::move(monotonicMs))
{
    // Read at once: the window shows them before the first poll.
    m_accessibilityGranted = m_checks.accessibility && m_checks.accessibility();
    m_screenRecordingGranted = m_checks.screenRecording && m_checks.screenRecording();
    if (m_events) {
        QPointer<UpdatePublisher> self(this);
        m_events->onFrontmostChanged = [self] {
            if (self)
                self->frontmostChanged();
        };
        m_events->onApplicationsChanged = [self] {
            if (self)
                self->applicationsChanged();
        };
    }
}

void UpdatePublisher::start()
{
    auto every = [this](QTimer& timer, int ms, void (UpdatePublisher::*work)()) {
        timer.setInterval(ms);
        timer.setTimerType(Qt::CoarseTimer);
        connect(&timer, &QTimer::timeout, this, work);
        timer.start();
    };
    every(m_pollTimer, permissionPollMs, &UpdatePublisher::permissionPoll);
    every(m_infoTimer, infoPushMs, &UpdatePublisher::pushMacInfo);
    every(m_nowPlayingTimer, nowPlayingPollMs, &UpdatePublisher::nowPlayingPoll);
}

void UpdatePublisher::permissionPoll()
{
    if (changed(m_screenRecordingGranted, m_checks.screenRecording && m_checks.screenRecording()))
        Q_EMIT screenRecordingGrantedChanged();
    if (!changed(m_accessibilityGranted, m_checks.accessibility && m_checks.accessibility()))
        return;
    Q_EMIT accessibilityGrantedChanged();
    // Phones learn at once that input works now, or no longer does.
    m_hub.broadcast(msg::Welcome{m_hub.computerName().toStdString(), m_accessibilityGranted});
}

void UpdatePublisher::pushMacInfo()
{
    if (!m_hub.devices().empty())
        m_hub.broadcast(msg::Info{{m_queries.macInfo(m_hub.computerName(), false)}});
}

void UpdatePublisher::refreshSoon()
{
    QPointer<UpdatePublisher> self(this);
    QTimer::singleShot(nowPlayingRefreshMs, this, [self] {
        if (self)
            self->nowPlayingPoll();
    });
}

void UpdatePublisher::nowPlayingPoll()
{
    if (m_hub.devices().empty())
        return;
    SystemState state = m_queries.systemState();
    m_currentSystemState = state;
    if (!m_lastSystemState || *m_lastSystemState != state) {
        m_lastSystemState = state;
        m_hub.broadcast(msg::State{{state}});
    }
    std::optional<NowPlaying> playing = m_queries.nowPlaying();
    m_readAtMs = nowMs();
    m_currentNowPlaying = playing;
    if (changed(m_mediaPermissionDenied, m_queries.mediaPermissionDenied()))
        Q_EMIT mediaPermissionDeniedChanged();
    ++m_nowPlayingTick;
    if (sameTrack(playing, m_lastNowPlaying) && m_nowPlayingTick % forcedSendEvery != 0)
        return;
    m_lastNowPlaying = playing;
    m_hub.broadcast(msg::Track{{std::move(playing)}});
}

void UpdatePublisher::frontmostChanged()
{
    std::optional<MacApp> app = m_queries.frontmostApp();
    m_knownFrontmost = app;
    if (app == m_lastFrontmost)
        return;
    m_lastFrontmost = app;
    m_hub.broadcast(msg::FrontmostApp{{std::move(app)}});
}

void UpdatePublisher::applicationsChanged()
{
    std::vector<std::string> running = m_queries.runningApps();
    // The client list also changes when an application opens another
    // window; only a different set of applications is news.
    if (running == m_lastRunningApps)
        return;
    m_lastRunningApps = running;
    m_hub.broadcast(msg::RunningApps{{std::move(running)}});
}

void UpdatePublisher::sendInitialState(const Uuid& id)
{
    const QString& name = m_hub.computerName();
    m_hub.sendMessage(msg::Welcome{name.toStdString(), m_accessibilityGranted}, id);
    m_hub.sendMessage(msg::Info{{m_queries.macInfo(name, true)}}, id);
    // Asking the players and the mixer takes milliseconds (a settings tool
    // runs, the sound server is dialled); a phone that authenticates soon
    // after the last reading gets that one, at most two intervals old.
    if (!m_readAtMs || nowMs() - *m_readAtMs > 2 * nowPlayingPollMs) {
        m_currentNowPlaying = m_queries.nowPlaying();
        m_currentSystemState = m_queries.systemState();
        m_readAtMs = nowMs();
    }
    m_hub.sendMessage(msg::Track{{m_currentNowPlaying}}, id);
    m_hub.sendMessage(msg::State{{m_currentSystemState}}, id);
    // Root-window notifications keep this current once it is known.
    if (!m_knownFrontmost || !m_events)
        m_knownFrontmost = m_queries.frontmostApp();
    m_hub.sendMessage(msg::FrontmostApp{{*m_knownFrontmost}}, id);
}

} // namespace orvane

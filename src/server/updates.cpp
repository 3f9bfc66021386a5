// What the server tells authenticated phones without being asked: the state
// after authentication, permission changes, the machine's information, what
// plays and the system state, the frontmost and the running applications.
#include "orvane_server.h"
#include "published.h"

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

} // namespace

void OrvaneServer::startPeriodicTasks()
{
    auto every = [this](QTimer& timer, int ms, void (OrvaneServer::*work)()) {
        timer.setInterval(ms);
        timer.setTimerType(Qt::CoarseTimer);
        connect(&timer, &QTimer::timeout, this, work);
        timer.start();
    };
    every(m_pollTimer, permissionPollMs, &OrvaneServer::permissionPoll);
    every(m_infoTimer, infoPushMs, &OrvaneServer::pushMacInfo);
    every(m_nowPlayingTimer, nowPlayingPollMs, &OrvaneServer::nowPlayingPoll);
}

void OrvaneServer::watchWorkspace()
{
    WorkspaceEvents* events = m_env.workspaceEvents;
    if (!events)
        return;
    QPointer<OrvaneServer> self(this);
    events->onFrontmostChanged = [self] {
        if (self)
            self->frontmostChanged();
    };
    events->onApplicationsChanged = [self] {
        if (self)
            self->applicationsChanged();
    };
}

void OrvaneServer::permissionPoll()
{
    bool screen = m_env.screenRecordingCheck && m_env.screenRecordingCheck();
    publish(this, m_screenRecordingGranted, screen, &OrvaneServer::screenRecordingGrantedChanged);
    setAccessibilityGranted(m_env.accessibilityCheck && m_env.accessibilityCheck());
}

void OrvaneServer::setAccessibilityGranted(bool granted)
{
    if (!publish(this, m_accessibilityGranted, granted, &OrvaneServer::accessibilityGrantedChanged))
        return;
    // Phones learn at once that input works now, or no longer does.
    broadcast(msg::Welcome{m_macName.toStdString(), m_accessibilityGranted});
}

MacInfo OrvaneServer::buildMacInfo(bool includeImage)
{
    return m_env.macInfo->macInfo(m_macName, includeImage);
}

void OrvaneServer::pushMacInfo()
{
    if (m_devices.empty() || !m_env.macInfo)
        return;
    broadcast(msg::Info{{buildMacInfo(false)}});
}

void OrvaneServer::nowPlayingPoll()
{
    if (m_devices.empty() || !m_env.commands)
        return;
    publish(this, m_keepsAwake, m_env.defaults->keepMacAwake(), &OrvaneServer::keepsAwakeChanged);
    SystemState state = m_env.commands->system().readSystemState();
    m_currentSystemState = state;
    if (!m_lastSystemState || *m_lastSystemState != state) {
        m_lastSystemState = state;
        broadcast(msg::State{{state}});
    }

    MediaCommands& media = m_env.commands->media();
    std::optional<NowPlaying> playing = media.currentNowPlaying();
    m_readAtMs = nowMs();
    m_currentNowPlaying = playing;
    publish(this, m_mediaPermissionDenied, media.permissionDenied(),
            &OrvaneServer::mediaPermissionDeniedChanged);
    ++m_nowPlayingTick;
    if (sameTrack(playing, m_lastNowPlaying) && m_nowPlayingTick % forcedSendEvery != 0)
        return;
    m_lastNowPlaying = playing;
    broadcast(msg::Track{{std::move(playing)}});
}

std::optional<MacApp> OrvaneServer::currentFrontmostApp()
{
    if (!m_env.workspaceEvents || !m_env.commands)
        return std::nullopt;
    auto pid = m_env.workspaceEvents->frontmostPid();
    if (!pid)
        return std::nullopt;
    ApplicationCatalog& apps = m_env.commands->applications();
    for (const RunningApp& app : apps.runningApps()) {
        if (app.pid != *pid)
            continue;
        if (app.bundleID.isEmpty() || app.bundleID == apps.ownBundleID())
            return std::nullopt;
        QString name = app.name.isEmpty() ? app.bundleID : app.name;
        return MacApp{app.bundleID.toStdString(), name.toStdString()};
    }
    return std::nullopt;
}

void OrvaneServer::frontmostChanged()
{
    std::optional<MacApp> app = currentFrontmostApp();
    m_knownFrontmost = app;
    if (app == m_lastFrontmost)
        return;
    m_lastFrontmost = app;
    broadcast(msg::FrontmostApp{{std::move(app)}});
}

void OrvaneServer::applicationsChanged()
{
    if (!m_env.commands)
        return;
    std::vector<std::string> running;
    for (const RunningApp& app : m_env.commands->applications().runningApps()) {
        if (!app.bundleID.isEmpty())
            running.push_back(app.bundleID.toStdString());
    }
    // The client list also changes when an application opens another
    // window; only a different set of applications is news.
    if (running == m_lastRunningApps)
        return;
    m_lastRunningApps = running;
    broadcast(msg::RunningApps{{std::move(running)}});
}

void OrvaneServer::sendInitialState(const Uuid& id)
{
    // All five in one go: a push that falls due meanwhile must not come
    // between them, and what they need is read ahead or kept fresh.
    sendMessage(msg::Welcome{m_macName.toStdString(), m_accessibilityGranted}, id);
    if (m_env.macInfo)
        sendMessage(msg::Info{{buildMacInfo(true)}}, id);
    if (!m_env.commands)
        return;
    // Asking the players and the mixer takes milliseconds (a settings tool
    // runs, the sound server is dialled); a phone that authenticates soon
    // after the last reading gets that one, at most two intervals old.
    if (!m_readAtMs || nowMs() - *m_readAtMs > 2 * nowPlayingPollMs) {
        m_currentNowPlaying = m_env.commands->media().currentNowPlaying();
        m_currentSystemState = m_env.commands->system().readSystemState();
        m_readAtMs = nowMs();
    }
    sendMessage(msg::Track{{m_currentNowPlaying}}, id);
    sendMessage(msg::State{{m_currentSystemState}}, id);
    // Root-window notifications keep this current once it is known.
    if (!m_knownFrontmost || !m_env.workspaceEvents)
        m_knownFrontmost = currentFrontmostApp();
    sendMessage(msg::FrontmostApp{{*m_knownFrontmost}}, id);
}

void OrvaneServer::setKeepAwake(bool on)
{
    if (m_env.commands)
        m_env.commands->system().setKeepAwake(on);
    else
        m_env.defaults->setBool(QStringLiteral("keepMacAwake"), on);
    publish(this, m_keepsAwake, on, &OrvaneServer::keepsAwakeChanged);
}

} // namespace orvane

#pragma once

#include "commands/phone_queries.h"
#include "platform/workspace_events.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

namespace orvane {

class ConnectionHub;

// What the computer tells authenticated phones without being asked: the
// state after authentication, permission changes, the machine's
// information, what plays and the system state, the frontmost and running
// applications. Its timers run the polls; the polls are public so a test can
// run one when it has moved its clock.
class UpdatePublisher : public QObject {
    Q_OBJECT
public:
    static constexpr int permissionPollMs = 2000;
    static constexpr int infoPushMs = 30'000;
    static constexpr int nowPlayingPollMs = 1500;
    static constexpr int nowPlayingRefreshMs = 350;

    struct Checks {
        std::function<bool()> accessibility;   // false when null
        std::function<bool()> screenRecording; // false when null
    };

    UpdatePublisher(ConnectionHub& hub, PhoneQueries& queries, WorkspaceEvents* events,
                    Checks checks, std::function<qint64()> monotonicMs);

    void start();
    bool accessibilityGranted() const { return m_accessibilityGranted; }
    bool screenRecordingGranted() const { return m_screenRecordingGranted; }
    bool mediaPermissionDenied() const { return m_mediaPermissionDenied; }
    std::int64_t nowPlayingTick() const { return m_nowPlayingTick; }

    void permissionPoll();
    void pushMacInfo();
    void nowPlayingPoll();
    // In this order: welcome, macInfo with the picture, nowPlaying,
    // systemState, frontmostApp; nothing comes between them.
    void sendInitialState(const Uuid& id);
    // A command that changes what plays or the system state shows in a
    // moment; this poll comes a little after it.
    void refreshSoon();

Q_SIGNALS:
    void accessibilityGrantedChanged();
    void screenRecordingGrantedChanged();
    void mediaPermissionDeniedChanged();

private:
    void frontmostChanged();
    void applicationsChanged();
    qint64 nowMs() const { return m_monotonicMs(); }

    ConnectionHub& m_hub;
    PhoneQueries& m_queries;
    WorkspaceEvents* m_events;
    Checks m_checks;
    std::function<qint64()> m_monotonicMs;
    bool m_accessibilityGranted = false;
    bool m_screenRecordingGranted = false;
    bool m_mediaPermissionDenied = false;
    // What was sent last.
    std::optional<NowPlaying> m_lastNowPlaying;
    std::int64_t m_nowPlayingTick = 0;
    std::optional<SystemState> m_lastSystemState;
    std::optional<MacApp> m_lastFrontmost;
    std::optional<std::vector<std::string>> m_lastRunningApps;
    // The latest readings, for phones that authenticate soon after.
    std::optional<qint64> m_readAtMs;
    std::optional<NowPlaying> m_currentNowPlaying;
    SystemState m_currentSystemState;
    std::optional<std::optional<MacApp>> m_knownFrontmost;
    QTimer m_pollTimer;
    QTimer m_infoTimer;
    QTimer m_nowPlayingTimer;
};

} // namespace orvane

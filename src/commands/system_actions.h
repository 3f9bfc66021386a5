#pragma once

#include "families.h"
#include "platform/system_controls.h"
#include "settings/settings.h"

#include <QObject>

#include <functional>

namespace orvane {

// Volume, brightness, appearance, display and machine sleep, the screen
// lock and the keep-awake switch.
class SystemActions final : public SystemCommands {
public:
    // How long a sleep request waits, so the answer reaches the phone
    // before the network goes down.
    static constexpr int sleepDelayMs = 600;

    // The keep-awake switch lives in `settings`, so it holds from one launch
    // to the next: it is applied at once, and again whenever it changes,
    // from the phone or from the window.
    SystemActions(SystemControls& controls, std::function<bool()> accessibilityGranted,
                  Settings& settings);
    ~SystemActions() override;
    SystemActions(const SystemActions&) = delete;
    SystemActions& operator=(const SystemActions&) = delete;

    CommandResult perform(const SystemAction& action) override;
    SystemState readSystemState() override;
    // Stores the switch, which holds or releases the inhibitor.
    void setKeepAwake(bool on) override;
    SleepHold keepAwakeHold() const override;

private:
    int currentVolume();
    CommandResult changeVolume(std::int64_t requested);
    CommandResult toggleMute();
    CommandResult stepBrightness(int direction);
    CommandResult toggleDarkMode();
    CommandResult displayOff();
    CommandResult sleepSoon();
    CommandResult lock();
    CommandResult keepAwake(bool on);
    void applyKeepAwake(bool on);

    SystemControls& m_controls;
    std::function<bool()> m_accessibilityGranted;
    Settings& m_settings;
    bool m_holdsInhibitor = false;
    // The switch is on but the session would not hold the machine awake.
    bool m_keepAwakeRefused = false;
    bool m_sleepPending = false;
    // Owns the delayed sleep: destroying it cancels the timer.
    QObject m_timerContext;
};

} // namespace orvane

#include "system_actions.h"

#include "labels.h"

#include "platform/diagnostics.h"

#include <QTimer>

#include <algorithm>
#include <variant>

namespace orvane {

namespace {

template <class... Ts> struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

CommandResult accessibilityRequired()
{
    return CommandResult::failure(tr("Accessibility permission required on the Mac"));
}

CommandResult volumeRefused()
{
    return CommandResult::failure(tr("Couldn't change the volume"));
}

} // namespace

SystemActions::SystemActions(SystemControls& controls, std::function<bool()> accessibilityGranted,
                             Settings& settings)
    : m_controls(controls), m_accessibilityGranted(std::move(accessibilityGranted)),
      m_settings(settings)
{
    QObject::connect(&settings, &Settings::keepAwakeChanged, &m_timerContext,
                     [this] { applyKeepAwake(m_settings.keepAwake()); });
    applyKeepAwake(settings.keepAwake());
}

SystemActions::~SystemActions()
{
    // The phone was told the machine goes to sleep: leaving before the delay
    // ran out must not take that back.
    if (m_sleepPending)
        m_controls.suspend();
    if (m_holdsInhibitor)
        m_controls.releaseSleepInhibitor();
}

CommandResult SystemActions::perform(const SystemAction& action)
{
    return std::visit(
        Overloaded{
            [&](const sys::SetVolume& a) { return changeVolume(a.volume); },
            [&](const sys::VolumeUp&) { return changeVolume(std::int64_t{currentVolume()} + 10); },
            [&](const sys::VolumeDown&) {
                return changeVolume(std::int64_t{currentVolume()} - 10);
            },
            [&](const sys::ToggleMute&) { return toggleMute(); },
            [&](const sys::BrightnessUp&) { return stepBrightness(+1); },
            [&](const sys::BrightnessDown&) { return stepBrightness(-1); },
            [&](const sys::ToggleDarkMode&) { return toggleDarkMode(); },
            [&](const sys::DisplaySleep&) { return displayOff(); },
            [&](const sys::Sleep&) { return sleepSoon(); },
            [&](const sys::Lock&) { return lock(); },
            [&](const sys::SetKeepAwake& a) { return keepAwake(a.enabled); },
        },
        action);
}

SystemState SystemActions::readSystemState()
{
    SystemState state;
    if (auto level = m_controls.outputLevel()) {
        state.volume = std::clamp(level->volume, 0, 100);
        state.isMuted = level->muted;
    }
    state.isDarkMode = m_controls.darkColorScheme().value_or(false);
    // What holds, not what was asked for: the phone's switch shows the truth.
    state.keepsAwake = m_holdsInhibitor;
    return state;
}

SleepHold SystemActions::keepAwakeHold() const
{
    if (m_holdsInhibitor || m_keepAwakeRefused)
        return m_controls.sleepHold();
    return {};
}

void SystemActions::setKeepAwake(bool on)
{
    if (m_settings.keepAwake() != on)
        m_settings.setKeepAwake(on); // applied when the setting tells of its change
    else
        applyKeepAwake(on); // the hold may have been refused before: try again
}

void SystemActions::applyKeepAwake(bool on)
{
    if (on && !m_holdsInhibitor)
        m_holdsInhibitor = m_controls.holdSleepInhibitor();
    else if (!on && m_holdsInhibitor) {
        m_controls.releaseSleepInhibitor();
        m_holdsInhibitor = false;
    }
    m_keepAwakeRefused = on && !m_holdsInhibitor;
    if (onKeepAwakeChanged)
        onKeepAwakeChanged();
}

// An unreadable volume counts as 0, so "volume up" then sets 10.
int SystemActions::currentVolume()
{
    auto level = m_controls.outputLevel();
    return level ? std::clamp(level->volume, 0, 100) : 0;
}

// Setting a level also unmutes: a phone slider that moves should be heard.
// Only a level the sound server took is reported.
CommandResult SystemActions::changeVolume(std::int64_t requested)
{
    const int volume = static_cast<int>(std::clamp<std::int64_t>(requested, 0, 100));
    if (!m_controls.setOutputVolume(volume) || !m_controls.setOutputMuted(false))
        return volumeRefused();
    return CommandResult::ok(tr("Volume %1%").arg(volume));
}

CommandResult SystemActions::toggleMute()
{
    auto level = m_controls.outputLevel();
    const bool wasMuted = level && level->muted;
    if (!m_controls.setOutputMuted(!wasMuted))
        return volumeRefused();
    return CommandResult::ok(wasMuted ? tr("Unmuted") : tr("Muted"));
}

// Sixteen steps from dark to full, like the brightness keys of a laptop;
// a device with fewer levels moves one level per step.
CommandResult SystemActions::stepBrightness(int direction)
{
    const auto level = m_controls.backlight();
    if (!level || level->max <= 0)
        return CommandResult::failure(tr("Couldn't change the brightness"));
    const std::int64_t step = std::max<std::int64_t>(1, level->max / 16);
    const std::int64_t value = std::clamp<std::int64_t>(
        std::clamp<std::int64_t>(level->value, 0, level->max) + direction * step, 0, level->max);
    if (!m_controls.setBacklight(value))
        return CommandResult::failure(tr("Couldn't change the brightness"));
    return CommandResult::ok(direction > 0 ? tr("Brightness up") : tr("Brightness down"));
}

CommandResult SystemActions::toggleDarkMode()
{
    const bool dark = m_controls.darkColorScheme().value_or(false);
    if (!m_controls.setDarkColorScheme(!dark)) {
        return CommandResult::failure(tr("Automation permission for %1 required on the Mac")
                                          .arg(QStringLiteral("System Events")));
    }
    const bool nowDark = m_controls.darkColorScheme().value_or(false);
    return CommandResult::ok(nowDark ? tr("Dark mode on") : tr("Light mode"));
}

CommandResult SystemActions::displayOff()
{
    if (!m_controls.turnDisplayOff())
        return CommandResult::failure(tr("Couldn't turn the display off"));
    return CommandResult::ok(systemActionLabel(sys::DisplaySleep{}));
}

// The answer must leave before the network goes down, so whether the
// session manager would allow it is asked first; a suspend that still fails
// later can only be logged.
CommandResult SystemActions::sleepSoon()
{
    if (!m_controls.canSuspend())
        return CommandResult::failure(tr("Couldn't put the Mac to sleep"));
    m_sleepPending = true;
    QTimer::singleShot(sleepDelayMs, &m_timerContext, [this] {
        m_sleepPending = false;
        if (!m_controls.suspend())
            qCInfo(diagnostics).noquote() << "The session manager refused to suspend";
    });
    return CommandResult::ok(systemActionLabel(sys::Sleep{}));
}

// Locking goes through the session manager, but the phone's lock is a key
// press on a Mac: without input access it gets the same answer as keys.
CommandResult SystemActions::lock()
{
    if (!m_accessibilityGranted())
        return accessibilityRequired();
    if (!m_controls.lockSession())
        return CommandResult::failure(tr("Couldn't lock the Mac"));
    using K = KeyShortcut;
    return CommandResult::ok(
        shortcutLabel(K{K::Key::q, {K::Modifier::control, K::Modifier::command}}));
}

CommandResult SystemActions::keepAwake(bool on)
{
    setKeepAwake(on);
    if (m_keepAwakeRefused)
        return CommandResult::failure(tr("Couldn't keep the Mac awake"));
    return CommandResult::ok(on ? tr("The Mac stays awake") : tr("The Mac can sleep again"));
}

} // namespace orvane

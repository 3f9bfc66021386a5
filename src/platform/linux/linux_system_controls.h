#pragma once

#include "idle_inhibitor.h"
#include "platform/linux/dbus/logind_session.h"
#include "platform/linux/desktop/color_scheme_setting.h"
#include "platform/linux/pulse/pulse_mixer.h"
#include "platform/system_controls.h"

#include <QString>

#include <memory>

namespace orvane {

// Sound through PulseAudio, the backlight and session power through logind,
// the appearance through the desktop's colour-scheme setting, the display
// through DPMS on the X server, keeping awake as IdleInhibitor can.
class LinuxSystemControls final : public SystemControls {
public:
    // backlightRoot lists the backlight devices, each a folder with
    // "brightness" and "max_brightness". Without idle controls, those of
    // the X display are used.
    LinuxSystemControls(std::shared_ptr<X11Connection> x11,
                        QString backlightRoot = QStringLiteral("/sys/class/backlight"),
                        std::unique_ptr<X11IdleControls> idle = nullptr);

    std::optional<OutputLevel> outputLevel() override { return m_mixer.level(); }
    bool setOutputVolume(int percent) override { return m_mixer.setVolume(percent); }
    bool setOutputMuted(bool muted) override { return m_mixer.setMuted(muted); }

    std::optional<BacklightLevel> backlight() override;
    bool setBacklight(std::int64_t value) override;

    std::optional<bool> darkColorScheme() override { return m_colorScheme.isDark(); }
    bool setDarkColorScheme(bool dark) override { return m_colorScheme.setDark(dark); }

    bool turnDisplayOff() override;
    bool canSuspend() override { return m_logind.canSuspend(); }
    bool suspend() override { return m_logind.suspend(); }
    bool lockSession() override { return m_logind.lock(); }
    bool holdSleepInhibitor() override { return m_idle.hold(); }
    void releaseSleepInhibitor() override { m_idle.release(); }
    SleepHold sleepHold() const override { return m_idle.state(); }

private:
    // The first device by name, so the choice is the same on every call.
    QString backlightDevice() const;

    std::shared_ptr<X11Connection> m_x11;
    QString m_backlightRoot;
    PulseMixer m_mixer;
    LogindSession m_logind;
    IdleInhibitor m_idle;
    ColorSchemeSetting m_colorScheme;
};

} // namespace orvane

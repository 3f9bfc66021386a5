#pragma once

#include "logind_session.h"
#include "platform/system_controls.h"
#include "pulse_mixer.h"
#include "system_appearance.h"

#include <QString>

#include <memory>

namespace orvane {

// Sound through PulseAudio, the backlight and session power through logind,
// the appearance through the desktop's colour-scheme setting, the display
// through DPMS on the X server.
class LinuxSystemControls final : public SystemControls {
public:
    // backlightRoot lists the backlight devices, each a folder with
    // "brightness" and "max_brightness".
    LinuxSystemControls(std::shared_ptr<X11Connection> x11,
                        QString backlightRoot = QStringLiteral("/sys/class/backlight"));

    std::optional<OutputLevel> outputLevel() override { return m_mixer.level(); }
    bool setOutputVolume(int percent) override { return m_mixer.setVolume(percent); }
    bool setOutputMuted(bool muted) override { return m_mixer.setMuted(muted); }

    std::optional<BacklightLevel> backlight() override;
    bool setBacklight(std::int64_t value) override;

    std::optional<bool> darkColorScheme() override { return m_colorScheme.isDark(); }
    bool setDarkColorScheme(bool dark) override { return m_colorScheme.setDark(dark); }

    bool turnDisplayOff() override;
    bool suspend() override { return m_logind.suspend(); }
    bool lockSession() override { return m_logind.lock(); }
    bool holdSleepInhibitor() override { return m_logind.holdIdleInhibitor(); }
    void releaseSleepInhibitor() override { m_logind.releaseIdleInhibitor(); }

private:
    // The first device by name, so the choice is the same on every call.
    QString backlightDevice() const;

    std::shared_ptr<X11Connection> m_x11;
    QString m_backlightRoot;
    PulseMixer m_mixer;
    LogindSession m_logind;
    ColorSchemeSetting m_colorScheme;
};

} // namespace orvane

#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace orvane {

// The sound output the user hears: the default output's loudest channel.
struct OutputLevel {
    int volume = 0; // percent, 0...100
    bool muted = false;
    bool operator==(const OutputLevel&) const = default;
};

// The first backlight device, in its own units (0...max).
struct BacklightLevel {
    std::int64_t value = 0;
    std::int64_t max = 0;
    bool operator==(const BacklightLevel&) const = default;
};

// What keeps the machine from idling into sleep, in a few words for the
// window: who holds it ("logind"), or, while nothing does, what each way
// lacked ("no logind, no screen saver service and no X screen saver or DPMS").
struct SleepHold {
    QString holder; // empty while nothing holds
    QString lacking;
    bool operator==(const SleepHold&) const = default;
};

// Volume, brightness, appearance, display and session power of the desktop.
// Every call is bounded in time: a missing or stuck service answers "nothing"
// or false instead of blocking the main thread.
class SystemControls {
public:
    virtual ~SystemControls() = default;

    // Nothing when no sound server or no output device answers.
    virtual std::optional<OutputLevel> outputLevel() = 0;
    // Sets every channel to the same level; does not touch the mute switch.
    virtual bool setOutputVolume(int percent) = 0;
    virtual bool setOutputMuted(bool muted) = 0;

    // Nothing when the machine has no backlight.
    virtual std::optional<BacklightLevel> backlight() = 0;
    virtual bool setBacklight(std::int64_t value) = 0;

    // Whether the desktop prefers dark colours; nothing when no setting can
    // be read.
    virtual std::optional<bool> darkColorScheme() = 0;
    // False when the setting is absent or the desktop refused the change.
    virtual bool setDarkColorScheme(bool dark) = 0;

    virtual bool turnDisplayOff() = 0;
    // Whether suspend() would be allowed now without asking anybody.
    virtual bool canSuspend() = 0;
    virtual bool suspend() = 0;
    virtual bool lockSession() = 0;

    // While held, the machine does not suspend on idle. Holding twice keeps
    // one hold; false when nothing on this machine would give one.
    virtual bool holdSleepInhibitor() = 0;
    virtual void releaseSleepInhibitor() = 0;
    // Who holds it since the last hold, or what the last hold lacked.
    virtual SleepHold sleepHold() const = 0;
};

} // namespace orvane

#pragma once

#include "platform/system_controls.h"

#include <optional>
#include <string>
#include <vector>

namespace orvane {

// A desktop in memory that records every change: "volume 40", "muted 0",
// "backlight 115", "dark 1", "display off", "suspend", "lock", "hold",
// "release". Setting a value updates what the next read returns, unless
// the part is switched off (no sound server, no backlight, a refused
// appearance change) or the desktop refuses every change (`obeys`).
class FakeSystemControls final : public SystemControls {
public:
    std::vector<std::string> calls;
    std::optional<OutputLevel> output = OutputLevel{50, false};
    std::optional<BacklightLevel> backlightLevel;
    std::optional<bool> dark = false;
    bool appearanceWritable = true;
    bool obeys = true;          // volume, backlight, display and suspend
    bool sessionAnswers = true; // lock and inhibitor
    int inhibitorsHeld = 0;

    std::optional<OutputLevel> outputLevel() override { return output; }
    bool setOutputVolume(int percent) override
    {
        calls.push_back("volume " + std::to_string(percent));
        if (output && obeys)
            output->volume = percent;
        return output && obeys;
    }
    bool setOutputMuted(bool muted) override
    {
        calls.push_back("muted " + std::to_string(muted));
        if (output && obeys)
            output->muted = muted;
        return output && obeys;
    }
    std::optional<BacklightLevel> backlight() override { return backlightLevel; }
    bool setBacklight(std::int64_t value) override
    {
        calls.push_back("backlight " + std::to_string(value));
        if (backlightLevel && obeys)
            backlightLevel->value = value;
        return backlightLevel && obeys;
    }
    std::optional<bool> darkColorScheme() override { return dark; }
    bool setDarkColorScheme(bool on) override
    {
        calls.push_back("dark " + std::to_string(on));
        if (!appearanceWritable)
            return false;
        dark = on;
        return true;
    }
    bool turnDisplayOff() override
    {
        calls.push_back("display off");
        return obeys;
    }
    bool canSuspend() override { return obeys; }
    bool suspend() override
    {
        calls.push_back("suspend");
        return obeys;
    }
    bool lockSession() override
    {
        calls.push_back("lock");
        return sessionAnswers;
    }
    bool holdSleepInhibitor() override
    {
        calls.push_back("hold");
        if (!sessionAnswers)
            return false;
        inhibitorsHeld = 1;
        return true;
    }
    void releaseSleepInhibitor() override
    {
        calls.push_back("release");
        inhibitorsHeld = 0;
    }
    SleepHold sleepHold() const override
    {
        if (inhibitorsHeld)
            return {QStringLiteral("logind"), {}};
        return {{}, QStringLiteral("no logind")};
    }
};

} // namespace orvane

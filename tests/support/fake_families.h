#pragma once

#include "commands/families.h"

// Media, system and window families whose answers the test sets.
namespace orvane::test {

class FakeMedia final : public MediaCommands {
public:
    std::optional<NowPlaying> playing;
    bool denied = false;
    int reads = 0;
    CommandResult perform(const MediaAction&) override
    {
        return CommandResult::ok(QStringLiteral("ok"));
    }
    CommandResult playMusic(const std::string&, std::optional<MediaPlayer>) override
    {
        return CommandResult::ok(QStringLiteral("ok"));
    }
    std::optional<NowPlaying> currentNowPlaying() override
    {
        ++reads;
        return playing;
    }
    bool permissionDenied() const override { return denied; }
};

class FakeSystem final : public SystemCommands {
public:
    SystemState state;
    bool keepAwake = false;
    SleepHold hold{QStringLiteral("logind"), {}}; // what the switch gets when on
    CommandResult perform(const SystemAction&) override
    {
        return CommandResult::ok(QStringLiteral("ok"));
    }
    SystemState readSystemState() override { return state; }
    void setKeepAwake(bool on) override
    {
        keepAwake = on;
        if (onKeepAwakeChanged)
            onKeepAwakeChanged();
    }
    SleepHold keepAwakeHold() const override { return keepAwake ? hold : SleepHold{}; }
};

class FakeWindowCommands final : public WindowCommands {
public:
    std::vector<MacWindow> windows;
    CommandResult perform(WindowAction) override { return CommandResult::ok(QStringLiteral("ok")); }
    CommandResult focus(std::uint32_t) override { return CommandResult::ok(QStringLiteral("ok")); }
    std::vector<MacWindow> listWindows() override { return windows; }
    std::optional<QByteArray> captureThumbnail(std::uint32_t id) override
    {
        if (id % 2 == 0)
            return std::nullopt; // as if the window vanished
        return QByteArray("jpeg") + QByteArray::number(id);
    }
};

} // namespace orvane::test

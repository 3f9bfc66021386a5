#pragma once

#include "commands/families.h"

#include <gtest/gtest.h>

// Media, system and window families whose answers the test sets.
namespace orvane::test {

// A search's answer when no player has to be waited for: it comes at once.
inline CommandResult played(MediaCommands& media, const std::string& query,
                            std::optional<MediaPlayer> player)
{
    std::optional<CommandResult> answer;
    media.playMusic(query, player, [&](CommandResult result) { answer = std::move(result); });
    EXPECT_TRUE(answer) << "no answer at once";
    return answer.value_or(CommandResult{});
}

class FakeMedia final : public MediaCommands {
public:
    std::optional<NowPlaying> playing;
    bool denied = false;
    int reads = 0;
    CommandResult perform(const MediaAction&) override
    {
        return CommandResult::ok(QStringLiteral("ok"));
    }
    void playMusic(const std::string&, std::optional<MediaPlayer>, Completion done) override
    {
        done(CommandResult::ok(QStringLiteral("ok")));
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

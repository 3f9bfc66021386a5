#pragma once

#include "command_result.h"
#include "platform/system_controls.h"
#include "protocol/command.h"
#include "protocol/records.h"

#include <QByteArray>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Media players, system actions and windows: each family answers for its
// own commands.
class MediaCommands {
public:
    virtual ~MediaCommands() = default;
    using Completion = std::function<void(CommandResult)>;
    virtual CommandResult perform(const MediaAction& action) = 0;
    // Answers through `done`: at once, or when a player had to be started,
    // once it shows up or the wait for it is over, never by holding up the
    // caller meanwhile.
    virtual void playMusic(const std::string& query, std::optional<MediaPlayer> player,
                           Completion done) = 0;
    // What plays now, or nothing when no player has a track.
    virtual std::optional<NowPlaying> currentNowPlaying() = 0;
    // Whether the last call to a player was refused by the user's policy.
    virtual bool permissionDenied() const = 0;
};

class SystemCommands {
public:
    virtual ~SystemCommands() = default;
    virtual CommandResult perform(const SystemAction& action) = 0;
    virtual SystemState readSystemState() = 0;

    // The keep-awake switch, stored for the next launch; switched on when it
    // is on already, it tries again to hold sleep off.
    virtual void setKeepAwake(bool on) = 0;
    // Who holds sleep off now; while the switch is on and nothing does,
    // what each way lacked.
    virtual SleepHold keepAwakeHold() const = 0;
    // Told after every change to the switch or the hold.
    std::function<void()> onKeepAwakeChanged;
};

class WindowCommands {
public:
    virtual ~WindowCommands() = default;
    virtual CommandResult perform(WindowAction action) = 0;
    virtual CommandResult focus(std::uint32_t windowID) = 0;
    // The desktop's windows, front to back; also what focus() can reach.
    virtual std::vector<MacWindow> listWindows() = 0;
    // A JPEG picture of a listed window, or nothing.
    virtual std::optional<QByteArray> captureThumbnail(std::uint32_t windowID) = 0;
};

} // namespace orvane

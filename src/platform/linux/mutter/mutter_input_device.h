#pragma once

#include "platform/input_device.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

class MutterSession;

// The clipboard of the remote-desktop session, as typing needs it to paste
// what the keyboard layout cannot type.
class SessionClipboard {
public:
    virtual ~SessionClipboard() = default;
    // The text on the clipboard now; nothing when none, or none came in time.
    virtual std::optional<QString> read(int timeoutMs) = 0;
    // `done(true)` once the desktop took `text` as its clipboard.
    virtual void offer(const QString& text, std::function<void(bool offered)> done) = 0;
    // `pasted` runs each time a program was given our offer.
    virtual void onTransferred(std::function<void()> pasted) = 0;
};

// Makes the clipboard of the session at `sessionPath`.
using SessionClipboardFactory =
    std::function<std::unique_ptr<SessionClipboard>(const QString& sessionPath)>;

// Input through the shared session: keys by keycode or keysym, text the
// layout lacks by pasting it, the pointer on the recorded monitor. Reads the
// user's layout with `gsettingsProgram` (the `gsettings` tool by default).
std::unique_ptr<InputDevice> makeMutterInputDevice(std::shared_ptr<MutterSession> session,
                                                   SessionClipboardFactory clipboard,
                                                   QString gsettingsProgram = {});

} // namespace orvane

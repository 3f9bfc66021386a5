#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace orvane {

// One service Orvane rests on, as a check found it just now.
struct DesktopCheck {
    bool ready = false;
    // What answered ("logind", a sound server's own name, the display), or
    // empty when nothing did.
    QString via;
    // The desktop asked the user, who declined; asking again may help.
    bool canAskAgain = false;
    bool operator==(const DesktopCheck&) const = default;
};

// The services under the command families, each checked afresh when asked,
// so that the window can say what works and what to start or install. Every
// check is bounded in time: a stuck service counts as missing.
class DesktopChecks {
public:
    enum class Service {
        input,        // keys and the pointer: XTEST, or the Wayland desktop's service
        screen,       // a picture of the screen can be taken, or a stream had
        windows,      // the windows: the X window manager, or the Wayland desktop's way in
        mediaPlayers, // the session bus the players are on
        sound,        // a PulseAudio server, or PipeWire's
        power,        // what keeps the computer awake: logind, or a fallback
        network,      // avahi-daemon, which announces Orvane to phones
    };
    virtual ~DesktopChecks() = default;
    virtual DesktopCheck check(Service service) = 0;
    // Forgets the user's refusal, so the desktop asks again when next needed;
    // for the windows, turns on what the user had turned off.
    virtual void askAgain(Service) {}

    // Whether the desktop shows tray icons now: an X11 tray, or a
    // StatusNotifier host on the session bus. Never blocks: `answer` runs
    // later on this thread, within about a second even when a host hangs,
    // and not at all once `context` is gone.
    virtual void findTrayHost(QObject* context, std::function<void(bool)> answer) = 0;
};

} // namespace orvane

#pragma once

#include <QString>

#include <functional>
#include <utility>
#include <vector>

namespace orvane {

// One desktop notification: a line that may carry what a phone sent, a line
// of our own words, and the buttons it offers.
struct DesktopNotification {
    QString summary; // shown as it is
    QString body;    // our own words only: a desktop may read it as markup
    // Each action's key and the label on its button.
    std::vector<std::pair<QString, QString>> actions;
    // Stays until it is closed, for what lasts until the user or the
    // program ends it (a pairing, a pause).
    bool lasting = false;
};

// The desktop's notifications. Each is shown under a key of ours: showing
// under the same key replaces it. Callbacks run on the main thread.
class DesktopNotifications {
public:
    virtual ~DesktopNotifications() = default;

    virtual void show(const QString& key, const DesktopNotification& notification) = 0;
    // Takes it off the screen; nothing when none is shown under the key.
    virtual void close(const QString& key) = 0;

    // The user chose the action of the notification shown under `key`.
    std::function<void(const QString& key, const QString& action)> onAction;
    // The notification under `key` is gone: closed by the user, expired, or
    // replaced by no other.
    std::function<void(const QString& key)> onClosed;
};

} // namespace orvane

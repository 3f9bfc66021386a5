#pragma once

#include "platform/display_source.h"
#include "platform/input_device.h"
#include "platform/linux/pipewire/screen_stream.h"
#include "platform/pasteboard.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <memory>

namespace orvane {

// Input, the clipboard, the displays and streams of them through GNOME's own
// remote-desktop and screen-cast service, all on one shared session that
// opens when first needed and closes when idle.
struct MutterBackend {
    std::unique_ptr<InputDevice> input;
    std::unique_ptr<Pasteboard> pasteboard;
    std::unique_ptr<DisplaySource> displays;
    std::shared_ptr<ScreenStreamOpener> streams;
    // Calls `changed` on the main thread whenever the monitors change, for
    // as long as `context` lives.
    std::function<void(QObject* context, std::function<void()> changed)> watchMonitors;
};

// Whether GNOME's remote-desktop service answers on `bus`.
bool mutterRemoteDesktopPresent(const QDBusConnection& bus);

MutterBackend makeMutterBackend(const QDBusConnection& bus);

} // namespace orvane

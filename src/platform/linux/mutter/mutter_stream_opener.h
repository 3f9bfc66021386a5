#pragma once

#include "platform/display_source.h"
#include "platform/linux/pipewire/screen_stream.h"

#include <memory>

namespace orvane {

class MutterSession;

// Streams of monitors as casts of the shared remote-desktop session: the
// stream of the monitor it records, on the user's own PipeWire daemon.
std::shared_ptr<ScreenStreamOpener> makeMutterStreamOpener(std::shared_ptr<MutterSession> session);

// The monitors as GNOME's display configuration reports them.
std::unique_ptr<DisplaySource> makeMutterDisplaySource(std::shared_ptr<MutterSession> session);

} // namespace orvane

#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace orvane {

// The desktop's screensaver service on the session bus
// (org.freedesktop.ScreenSaver), which desktops with idle tracking of their
// own (GNOME, KDE, xfce) serve. Each call waits at most `timeoutMs`.

// Holds off the desktop's idle actions; the handle to give back, or nothing
// when no service granted it, with `absent` telling a missing service from
// one that refused. The service ends the hold by itself when this process's
// bus connection closes.
std::optional<std::uint32_t> inhibitScreenSaver(const QString& application, const QString& reason,
                                                int timeoutMs, bool* absent = nullptr);
void uninhibitScreenSaver(std::uint32_t cookie, int timeoutMs);

// Tells the service the user is active, as local input would; sent without
// waiting for an answer.
void simulateUserActivity();

} // namespace orvane

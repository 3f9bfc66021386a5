#pragma once

#include "platform/desktop_checks.h"

#include <QDBusConnection>
#include <QString>

namespace orvane {

// Orvane's GNOME Shell extension, as GNOME Shell knows it.
inline const QString orvaneShellExtension = QStringLiteral("orvane@orvane.app");

// Ready ("GNOME Shell") when the extension answers (`answering`); else
// "GNOME Shell off" when the shell has it but it is turned off, which the
// user may turn on from Orvane, or "GNOME Shell missing" when the shell has
// not loaded it (installed after the login). Bounded by a second.
DesktopCheck gnomeShellExtensionCheck(const QDBusConnection& bus, bool answering);

// Asks GNOME Shell to turn the extension on; does not wait for it.
void turnOnGnomeShellExtension(const QDBusConnection& bus);

} // namespace orvane

#pragma once

#include "platform/window_system.h"

#include <QDBusMessage>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// The names Orvane's GNOME Shell extension answers to.
namespace orvane::gnome_shell {

inline const QString service = QStringLiteral("org.orvane.Shell");
inline const QString path = QStringLiteral("/org/orvane/Shell/Windows");
inline const QString interface = QStringLiteral("org.orvane.Shell.Windows");

} // namespace orvane::gnome_shell

namespace orvane {

// One window as the shell extension describes it.
struct ShellWindow {
    std::uint64_t shellId = 0; // mutter's id; the DesktopWindow carries its low half
    QString appId;             // the desktop entry's id, or the window's class
    bool focused = false;
    DesktopWindow window;
    bool operator==(const ShellWindow&) const = default;
};

// The id Orvane hands out for a shell window: the low 32 bits of mutter's,
// which counts up from a random start, so two live windows do not share one.
std::uint32_t desktopWindowId(std::uint64_t shellId);

// The windows of a GetWindows reply, front to back. Entries without an id
// are dropped, and a reply of another shape gives nothing.
std::vector<ShellWindow> parseShellWindows(const QDBusMessage& reply);

// The area of a WorkArea reply; nothing for an empty or malformed one.
std::optional<Rect> parseShellWorkArea(const QDBusMessage& reply);

} // namespace orvane

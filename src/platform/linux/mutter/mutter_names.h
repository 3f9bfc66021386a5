#pragma once

#include <QString>

// The names GNOME's remote-desktop, screen-cast and display services answer to.
namespace orvane::mutter {

inline const QString remoteDesktopService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
inline const QString remoteDesktopPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
inline const QString remoteDesktopInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
inline const QString remoteSessionInterface =
    QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
inline const QString screenCastService = QStringLiteral("org.gnome.Mutter.ScreenCast");
inline const QString screenCastPath = QStringLiteral("/org/gnome/Mutter/ScreenCast");
inline const QString screenCastInterface = QStringLiteral("org.gnome.Mutter.ScreenCast");
inline const QString castSessionInterface = QStringLiteral("org.gnome.Mutter.ScreenCast.Session");
inline const QString castStreamInterface = QStringLiteral("org.gnome.Mutter.ScreenCast.Stream");
inline const QString displayConfigService = QStringLiteral("org.gnome.Mutter.DisplayConfig");
inline const QString displayConfigPath = QStringLiteral("/org/gnome/Mutter/DisplayConfig");
inline const QString displayConfigInterface = QStringLiteral("org.gnome.Mutter.DisplayConfig");
inline const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace orvane::mutter

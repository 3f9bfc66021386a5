#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace orvane {

// An icon file for a theme icon name in the hicolor theme or the pixmaps
// folder of the given data folders, largest size first; empty when none.
QString findFallbackIconFile(const QString& iconName, const QStringList& dataFolders);

// The icon of a desktop entry's Icon value (a theme name or an absolute
// path) drawn into a transparent square of pixels × pixels, as PNG. Nothing
// without a QGuiApplication, for a bad size or when no icon is found.
std::optional<QByteArray> renderIconPng(const QString& icon, int pixels);

// The first of these icon-theme names that the desktop's theme has, drawn
// the same way; nothing otherwise.
std::optional<QByteArray> themeIconPng(const QStringList& names, int pixels);

} // namespace orvane

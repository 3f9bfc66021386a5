#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

namespace orvane {

// The first of these icon-theme names that the desktop's theme has, drawn
// into a transparent square of pixels × pixels, as PNG; nothing otherwise.
std::optional<QByteArray> themeIconPng(const QStringList& names, int pixels);

} // namespace orvane

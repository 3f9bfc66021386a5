#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace orvane {

// Reads a GVariant string array as gsettings prints it: "['a', \"b's\"]",
// or "@as []" when empty. Nothing when the text is not such an array.
std::optional<QStringList> parseGVariantStringArray(const QString& text);

// The desktop ids of a favourites list without their ".desktop"; items that
// are not valid ids are dropped.
std::vector<QString> favouriteIds(const QString& gsettingsOutput);

// GNOME Shell's favourites (the dash) through gsettings, in order; empty
// when gsettings or the setting is missing or does not answer in time.
std::vector<QString> readDesktopFavourites();

} // namespace orvane

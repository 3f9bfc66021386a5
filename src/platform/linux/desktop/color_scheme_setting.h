#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// The desktop's light or dark preference: the GNOME interface setting
// "color-scheme" through the gsettings tool, or, where that cannot be read,
// the freedesktop settings portal on the session bus, which other desktops
// serve from their own configuration.
class ColorSchemeSetting {
public:
    std::optional<bool> isDark();
    // Writes the GNOME setting and reads it back: a desktop without a
    // settings store (gsettings then keeps the value in memory only) or with
    // the key locked does not count as a change.
    bool setDark(bool dark);

    // The GNOME setting as it is, e.g. "prefer-dark", "prefer-light" or
    // "default"; nothing when gsettings cannot tell.
    std::optional<QString> gnomeValue();
    // Runs gsettings to hear of each new value of the GNOME setting, for as
    // long as the process returned lives; nothing without gsettings.
    std::unique_ptr<QProcess> watchGnomeValue(std::function<void(const QString&)> onValue);

    static constexpr int toolTimeoutMs = 1000;

private:
    std::optional<bool> readGSettings();
    static QString gsettingsProgram();
    // Standard output of a finished, successful run of gsettings.
    std::optional<QString> runGSettings(const QStringList& arguments);
};

} // namespace orvane

#include "desktop_color_scheme.h"

#include "color_scheme_setting.h"

#include "platform/linux/dbus/settings_portal.h"

namespace orvane {

DesktopColorScheme::DesktopColorScheme()
{
    // Listening before reading: no change can fall between the two.
    m_portal = std::make_unique<PortalColorSchemeWatcher>([this](uint s) { set(ofPortal(s)); });
    if (auto scheme = portalColorScheme(ColorSchemeSetting::toolTimeoutMs)) {
        m_dark = ofPortal(*scheme);
        return;
    }
    m_portal.reset();
    // A desktop without GNOME's schema gets no watcher.
    ColorSchemeSetting gnome;
    if (auto value = gnome.gnomeValue()) {
        m_dark = ofGnome(*value);
        m_gsettings = gnome.watchGnomeValue([this](const QString& v) { set(ofGnome(v)); });
    }
}

DesktopColorScheme::~DesktopColorScheme()
{
    if (m_gsettings) {
        m_gsettings->kill();
        m_gsettings->waitForFinished(ColorSchemeSetting::toolTimeoutMs);
    }
}

std::optional<bool> DesktopColorScheme::ofPortal(uint scheme)
{
    if (scheme == 1 || scheme == 2)
        return scheme == 1;
    return std::nullopt;
}

std::optional<bool> DesktopColorScheme::ofGnome(const QString& value)
{
    if (value == QLatin1String("prefer-dark") || value == QLatin1String("prefer-light"))
        return value == QLatin1String("prefer-dark");
    return std::nullopt; // "default"
}

void DesktopColorScheme::set(std::optional<bool> dark)
{
    if (dark == m_dark)
        return;
    m_dark = dark;
    if (onChanged)
        onChanged();
}

} // namespace orvane

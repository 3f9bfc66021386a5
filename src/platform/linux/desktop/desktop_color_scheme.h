#pragma once

#include "platform/color_scheme.h"

#include <QProcess>

#include <memory>

namespace orvane {

class PortalColorSchemeWatcher;

// The desktop's light or dark preference from the settings portal, which
// announces each change; without a portal, from GNOME's setting, which
// gsettings reports as it changes; else none.
class DesktopColorScheme final : public ColorSchemeSource {
public:
    DesktopColorScheme();
    ~DesktopColorScheme() override;

    std::optional<bool> prefersDark() const override { return m_dark; }

    // The portal's values (0 none, 1 dark, 2 light) and GNOME's.
    static std::optional<bool> ofPortal(uint scheme);
    static std::optional<bool> ofGnome(const QString& value);

private:
    void set(std::optional<bool> dark);

    std::optional<bool> m_dark;
    std::unique_ptr<PortalColorSchemeWatcher> m_portal;
    std::unique_ptr<QProcess> m_gsettings;
};

} // namespace orvane

#include "linux_system_controls.h"

#include "platform/linux/x11/x11_connection.h"

#include <QDir>
#include <QFile>

#include <xcb/dpms.h>

#include <algorithm>
#include <limits>

namespace orvane {

namespace {

std::optional<std::int64_t> readNumber(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const qlonglong value = file.read(64).trimmed().toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

LinuxSystemControls::LinuxSystemControls(std::shared_ptr<X11Connection> x11, QString backlightRoot,
                                         std::unique_ptr<X11IdleControls> idle)
    : m_x11(std::move(x11)), m_backlightRoot(std::move(backlightRoot)),
      m_idle(m_logind, idle ? std::move(idle) : makeX11IdleControls(m_x11))
{
}

QString LinuxSystemControls::backlightDevice() const
{
    const QStringList devices =
        QDir(m_backlightRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    return devices.isEmpty() ? QString() : devices.first();
}

std::optional<BacklightLevel> LinuxSystemControls::backlight()
{
    const QString device = backlightDevice();
    if (device.isEmpty())
        return std::nullopt;
    const QString folder = m_backlightRoot + QLatin1Char('/') + device + QLatin1Char('/');
    auto value = readNumber(folder + QStringLiteral("brightness"));
    auto max = readNumber(folder + QStringLiteral("max_brightness"));
    if (!value || !max)
        return std::nullopt;
    return BacklightLevel{*value, *max};
}

// Through logind rather than writing sysfs: the brightness file belongs to
// root, and logind lets the user of the active session change it.
bool LinuxSystemControls::setBacklight(std::int64_t value)
{
    const QString device = backlightDevice();
    if (device.isEmpty())
        return false;
    const auto clamped =
        std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::uint32_t>::max());
    return m_logind.setBrightness(device, static_cast<std::uint32_t>(clamped));
}

bool LinuxSystemControls::turnDisplayOff()
{
    if (!m_x11 || !m_x11->ensureConnected())
        return false;
    xcb_connection_t* c = m_x11->get();
    const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(c, &xcb_dpms_id);
    if (!dpms || !dpms->present)
        return false;
    XcbReply<xcb_dpms_capable_reply_t> capable(
        xcb_dpms_capable_reply(c, xcb_dpms_capable(c), nullptr));
    if (!capable || !capable->capable)
        return false;
    // Forcing a level does nothing while DPMS is disabled; "xset dpms force
    // off" enables it the same way.
    XcbReply<xcb_dpms_info_reply_t> info(xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr));
    if (!info)
        return false;
    if (!info->state) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(c, xcb_dpms_enable_checked(c)));
        if (error)
            return false;
    }
    XcbReply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_dpms_force_level_checked(c, XCB_DPMS_DPMS_MODE_OFF)));
    return !error;
}

std::unique_ptr<SystemControls> makeSystemControls(std::shared_ptr<X11Connection> x11)
{
    if (!x11)
        x11 = std::make_shared<X11Connection>();
    return std::make_unique<LinuxSystemControls>(std::move(x11));
}

} // namespace orvane

#include "linux_power.h"

#include "platform/linux/dbus/screen_saver_service.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_idle_controls.h"

namespace orvane {

namespace {

class LinuxPower final : public Power {
public:
    explicit LinuxPower(std::shared_ptr<X11Connection> x11) : m_x11(std::move(x11)) {}

    void declareUserActivity() override
    {
        resetX11Idle(*m_x11);
        // Desktops with their own idle tracking (GNOME, KDE, xfce) do not
        // watch the X screensaver; they take this call instead.
        simulateUserActivity();
    }

private:
    std::shared_ptr<X11Connection> m_x11;
};

} // namespace

std::unique_ptr<Power> makeLinuxPower(std::shared_ptr<X11Connection> x11)
{
    if (!x11)
        x11 = std::make_shared<X11Connection>();
    return std::make_unique<LinuxPower>(std::move(x11));
}

} // namespace orvane

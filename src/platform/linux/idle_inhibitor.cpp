#include "idle_inhibitor.h"

#include "platform/linux/dbus/logind_session.h"
#include "platform/linux/dbus/screen_saver_service.h"

namespace orvane {

IdleInhibitor::IdleInhibitor(LogindSession& logind, std::unique_ptr<X11IdleControls> x11)
    : m_logind(logind), m_x11(std::move(x11))
{
}

IdleInhibitor::~IdleInhibitor()
{
    release();
}

bool IdleInhibitor::hold()
{
    if (m_holder != Holder::none)
        return true;
    m_lacking.clear();
    QStringList lacking;
    bool absent = false;
    if (m_logind.holdIdleInhibitor(&absent)) {
        m_holder = Holder::logind;
        return true;
    }
    lacking << (absent ? QStringLiteral("no logind") : QStringLiteral("logind refused"));
    if (holdScreenSaverService(absent)) {
        m_holder = Holder::screenSaverService;
        return true;
    }
    lacking << (absent ? QStringLiteral("no screen saver service")
                       : QStringLiteral("the screen saver service refused"));
    if (holdX11()) {
        m_holder = Holder::x11;
        return true;
    }
    m_lacking = lacking << QStringLiteral("no X screen saver or DPMS");
    return false;
}

SleepHold IdleInhibitor::state() const
{
    switch (m_holder) {
    case Holder::logind:
        return {QStringLiteral("logind"), {}};
    case Holder::screenSaverService:
        return {QStringLiteral("the screen saver service"), {}};
    case Holder::x11:
        return {QStringLiteral("the X screen saver and DPMS"), {}};
    case Holder::none:
        break;
    }
    QString lacking = m_lacking.join(QStringLiteral(", "));
    if (const qsizetype last = lacking.lastIndexOf(QStringLiteral(", ")); last >= 0)
        lacking.replace(last, 2, QStringLiteral(" and "));
    return {{}, lacking};
}

void IdleInhibitor::release()
{
    switch (m_holder) {
    case Holder::logind:
        m_logind.releaseIdleInhibitor();
        break;
    case Holder::screenSaverService:
        releaseScreenSaverService();
        break;
    case Holder::x11:
        releaseX11();
        break;
    case Holder::none:
        break;
    }
    m_holder = Holder::none;
}

// The service ends the hold by itself if this process's bus connection
// closes, so a crash cannot leave the machine awake for good.
bool IdleInhibitor::holdScreenSaverService(bool& absent)
{
    const std::optional<std::uint32_t> cookie =
        inhibitScreenSaver(QStringLiteral("Orvane"),
                           QStringLiteral("Orvane keeps the computer reachable from the phone"),
                           callTimeoutMs, &absent);
    if (!cookie)
        return false;
    m_cookie = *cookie;
    return true;
}

void IdleInhibitor::releaseScreenSaverService()
{
    uninhibitScreenSaver(m_cookie, callTimeoutMs);
    m_cookie = 0;
}

bool IdleInhibitor::holdX11()
{
    if (!m_x11)
        return false;
    m_screenSaverSuspended = m_x11->suspendScreenSaver(true);
    m_dpmsDisabled = m_x11->dpmsEnabled().value_or(false) && m_x11->setDpmsEnabled(false);
    return m_screenSaverSuspended || m_dpmsDisabled;
}

void IdleInhibitor::releaseX11()
{
    if (m_screenSaverSuspended)
        m_x11->suspendScreenSaver(false);
    if (m_dpmsDisabled)
        m_x11->setDpmsEnabled(true);
    m_screenSaverSuspended = false;
    m_dpmsDisabled = false;
}

} // namespace orvane

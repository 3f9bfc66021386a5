#pragma once

#include "platform/linux/x11/x11_idle_controls.h"
#include "platform/system_controls.h"

#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

namespace orvane {

class LogindSession;

// Keeps the machine from idling into sleep with the first thing the session
// offers: logind's inhibitor; else the desktop's screensaver service on the
// session bus, which also stops the desktop's own idle actions; else, on a
// bare X session, the X screensaver and DPMS held off. A container or a
// minimal desktop has only some of these.
class IdleInhibitor {
public:
    enum class Holder { none, logind, screenSaverService, x11 };

    IdleInhibitor(LogindSession& logind, std::unique_ptr<X11IdleControls> x11);
    ~IdleInhibitor();
    IdleInhibitor(const IdleInhibitor&) = delete;
    IdleInhibitor& operator=(const IdleInhibitor&) = delete;

    // Holding twice keeps the first hold; false when nothing would hold.
    bool hold();
    // Gives back exactly what hold() took, and puts DPMS back as it was.
    void release();
    Holder holder() const { return m_holder; }
    // The holder in words, or what the last hold() found missing.
    SleepHold state() const;

    static constexpr int callTimeoutMs = 1000;

private:
    bool holdScreenSaverService(bool& absent);
    void releaseScreenSaverService();
    bool holdX11();
    void releaseX11();

    LogindSession& m_logind;
    std::unique_ptr<X11IdleControls> m_x11;
    Holder m_holder = Holder::none;
    QStringList m_lacking;      // after a hold() that failed, one entry for each way
    std::uint32_t m_cookie = 0; // the screensaver service's handle for the hold
    bool m_screenSaverSuspended = false;
    bool m_dpmsDisabled = false; // only DPMS that was on is turned back on
};

} // namespace orvane

#include "permission_help.h"

#include "desktop_session.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace orvane {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("orvane", text);
}

struct Help {
    QString title;
    QString text;
    QString details;
};

using Service = DesktopChecks::Service;

Help displayHelp(Service service)
{
    if (service == Service::input)
        return {tr("Keys and Pointer"),
                tr("Orvane presses keys and moves the pointer through the X server's XTEST "
                   "extension. There is nothing to allow; it needs the display."),
                tr("Start Orvane inside your X11 desktop session (DISPLAY set), not from a text "
                   "console or over SSH. Every X.Org server has XTEST unless it was started "
                   "with it turned off.")};
    return {tr("Screen"),
            tr("Orvane reads the screen from the X server, and only while a phone watches it. "
               "There is nothing to allow; it needs the display."),
            tr("Start Orvane inside your X11 desktop session (DISPLAY set). The window and the "
               "tray say who watches.")};
}

Help helpFor(Service service)
{
    switch (service) {
    case Service::input:
    case Service::screen:
        return displayHelp(service);
    case Service::windows:
        return {tr("Windows"),
                tr("A Wayland desktop shows no program the windows of another. On GNOME, "
                   "Orvane sees and arranges them through its own GNOME Shell extension, "
                   "orvane@orvane.app; on X11, through the window manager."),
                tr("On GNOME, turn the extension on in the Extensions application, or with: "
                   "gnome-extensions enable orvane@orvane.app. Right after installing Orvane, "
                   "log out and in again first: GNOME on Wayland finds new extensions only at "
                   "login.")};
    case Service::mediaPlayers:
        return {tr("Media Players"),
                tr("Orvane controls music and video players over D-Bus (MPRIS), on your session "
                   "bus."),
                tr("Start Orvane from your desktop session, where DBUS_SESSION_BUS_ADDRESS is "
                   "set. When a player refuses, a sandbox such as Flatpak's keeps Orvane out: "
                   "allow it to talk to org.mpris.MediaPlayer2.* there.")};
    case Service::sound:
        return {tr("Sound"),
                tr("Orvane sets the volume through the PulseAudio server, or PipeWire's "
                   "PulseAudio service."),
                tr("Install and start one in your session, e.g. pipewire-pulse: "
                   "systemctl --user enable --now pipewire-pulse")};
    case Service::power:
        return {tr("Keeping Awake"),
                tr("Orvane keeps the computer awake with logind's idle inhibitor; without "
                   "logind, with the desktop's screen saver service; without that, by holding "
                   "off the X server's screen saver and DPMS."),
                tr("Run your desktop under systemd-logind or elogind, or in an X11 session.")};
    case Service::network:
        break;
    }
    return {tr("Network"),
            tr("Phones find this computer through avahi-daemon, which announces Orvane on the "
               "local network."),
            tr("Install and start it: sudo apt install avahi-daemon, then sudo systemctl enable "
               "--now avahi-daemon. Until it runs, phones can't find this computer by "
               "themselves.")};
}

} // namespace

void showServiceHelp(Service service, QWidget* parent)
{
    const QString name = QStringLiteral("permissionHelp");
    auto* box = parent ? parent->findChild<QMessageBox*>(name) : nullptr;
    if (!box) {
        box = new QMessageBox(parent);
        box->setObjectName(name);
        box->setIcon(QMessageBox::Information);
        box->setStandardButtons(QMessageBox::Ok);
        box->setWindowModality(Qt::NonModal);
        box->setAttribute(Qt::WA_DeleteOnClose, parent == nullptr);
    }
    Help help = helpFor(service);
    QString details = help.details;
    if (desktopRoute().onlyXWayland && (service == Service::input || service == Service::screen))
        details += QStringLiteral("\n\n") +
                   tr("This is a Wayland session, and neither GNOME's remote-desktop service nor "
                      "a desktop portal that offers remote input answers: Orvane reaches only the "
                      "programs that run on XWayland.");
    box->setWindowTitle(help.title);
    box->setText(help.text);
    box->setInformativeText(details);
    box->setProperty("service", static_cast<int>(service));
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace orvane

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

Help helpFor(Permission permission)
{
    switch (permission) {
    case Permission::accessibility:
        return {tr("Accessibility"),
                tr("Orvane presses keys and moves the pointer through the X server's XTEST "
                   "extension. Linux has nothing to allow here."),
                tr("It needs an X11 session (DISPLAY set) whose X server has XTEST, as every "
                   "X.Org server does. Start Orvane from your desktop session, not from a "
                   "text console or over SSH.")};
    case Permission::screenRecording:
        return {tr("Screen Recording"),
                tr("Orvane takes pictures of the screen from the X server. Linux has nothing "
                   "to allow here."),
                tr("It needs an X11 session (DISPLAY set). Pictures are taken only while a "
                   "paired iPhone watches, and the window says who.")};
    case Permission::automation:
        break;
    }
    return {tr("Automation"),
            tr("Orvane controls Spotify and other music players over D-Bus (MPRIS) on your "
               "session bus."),
            tr("When a player refuses, something on the session bus denies Orvane access to "
               "it, usually a sandbox such as Flatpak's. Allow Orvane to talk to "
               "org.mpris.MediaPlayer2.* there, then try again.")};
}

} // namespace

void showPermissionHelp(Permission permission, QWidget* parent)
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
    Help help = helpFor(permission);
    QString details = help.details;
    if (waylandSession() && permission != Permission::automation)
        details += QStringLiteral("\n\n") +
                   tr("This is a Wayland session: Orvane reaches only the programs that run on "
                      "XWayland. The desktop's own remote-desktop permission comes in a later "
                      "version.");
    box->setWindowTitle(help.title);
    box->setText(help.text);
    box->setInformativeText(details);
    box->setProperty("permission", static_cast<int>(permission));
    box->show();
    box->raise();
    box->activateWindow();
}

void requestAccessibility(QWidget* parent)
{
    showPermissionHelp(Permission::accessibility, parent);
}

void openPrivacySettings(const QString& anchor, QWidget* parent)
{
    if (anchor == QLatin1String("Privacy_ScreenCapture"))
        showPermissionHelp(Permission::screenRecording, parent);
    else if (anchor == QLatin1String("Privacy_Automation"))
        showPermissionHelp(Permission::automation, parent);
    else if (anchor == QLatin1String("Privacy_Accessibility"))
        showPermissionHelp(Permission::accessibility, parent);
}

} // namespace orvane

#pragma once

#include "machine_card.h"
#include "platform/desktop_checks.h"
#include "server/orvane_server.h"

#include <QWidget>

#include <functional>

namespace orvane {

// The main window: the computer on the left; on the right whether anyone
// watches the screen, and under it the live sections, which scroll. It is
// never narrower than its content: long names give way instead. Closing it
// hides it; the program goes on until it is quit.
class MainWindow : public QWidget {
public:
    MainWindow(OrvaneServer& server, DesktopChecks& checks, MachineCard::Loader loader,
               std::function<void()> quit, QWidget* parent = nullptr);

    void setTrayAvailable(bool available) { m_card->setTrayAvailable(available); }
    // Shows the window in front, as a second launch or the tray asks.
    void present();
    // A section the program adds below the settings, e.g. notifications.
    void addSettingsSection(QWidget* section);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* makeRightColumn(DesktopChecks& checks);

    OrvaneServer& m_server;
    MachineCard* m_card = nullptr;
};

} // namespace orvane

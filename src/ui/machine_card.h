#pragma once

#include "protocol/records.h"
#include "server/orvane_server.h"

#include <QWidget>

#include <functional>

class QLabel;

namespace orvane {

// The model line under the computer's name: model, processor and system,
// each as the machine names it. What the machine does not say is left out:
// the stand-ins the phone gets instead ("Mac", "Apple silikon") are no
// words for this computer's own window.
QString modelLine(const MacInfo& info);

// The window's left column: the computer's picture and name, its model,
// whether phones can see it, and a short guide.
class MachineCard : public QWidget {
public:
    // Reads the description of this computer with its picture.
    using Loader = std::function<MacInfo()>;
    MachineCard(OrvaneServer& server, Loader loader, QWidget* parent = nullptr);

    // Reads the description again: once each time the window appears.
    void load();
    // Without a tray icon the window is the only way back to the program.
    void setTrayAvailable(bool available);

private:
    void refreshReachability();

    OrvaneServer& m_server;
    Loader m_loader;
    QLabel* m_picture = nullptr;
    QLabel* m_model = nullptr;
    QLabel* m_dot = nullptr;
    QLabel* m_reachability = nullptr;
    QLabel* m_footer = nullptr;
};

} // namespace orvane

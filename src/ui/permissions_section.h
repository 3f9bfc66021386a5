#pragma once

#include "platform/desktop_checks.h"
#include "server/orvane_server.h"

#include <QSet>
#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;

namespace orvane {

// "Permissions": what Orvane needs of this desktop (the display for keys,
// the pointer and the screen; the session bus for players; a sound server;
// what keeps the computer awake; avahi-daemon), each as a check found it,
// with "How to Fix" where it is missing. "Granted" stands only beside what
// was checked: the checks run each time the window appears, on Check Again,
// and when the server sees the input, screen or players change.
class PermissionsSection : public QWidget {
public:
    PermissionsSection(OrvaneServer& server, DesktopChecks& checks, QWidget* parent = nullptr);

    void recheck();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Row {
        DesktopChecks::Service service;
        QLabel* detail = nullptr;
        QWidget* granted = nullptr;
        QPushButton* fix = nullptr;
    };
    void addRow(DesktopChecks::Service service, const QString& key, const QString& symbol,
                const QString& title);
    void showResult(Row& row, const DesktopCheck& check);

    OrvaneServer& m_server;
    DesktopChecks& m_checks;
    std::vector<Row> m_rows;
    // The rows whose button asks the desktop again rather than explains.
    QSet<DesktopChecks::Service> m_askAgain;
};

// What a row says, from its check: where it works, or what is missing.
QString serviceDetail(DesktopChecks::Service service, const DesktopCheck& check,
                      bool playersRefused);

} // namespace orvane

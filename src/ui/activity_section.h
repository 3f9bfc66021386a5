#pragma once

#include "server/orvane_server.h"

#include <QWidget>

class QVBoxLayout;

namespace orvane {

// "Recent Activity": what the phones did, newest first, failures set apart
// in the accent colour.
class ActivitySection : public QWidget {
public:
    explicit ActivitySection(OrvaneServer& server, QWidget* parent = nullptr);

private:
    void refresh();
    QWidget* entryRow(const ActivityEntry& entry);

    OrvaneServer& m_server;
    QVBoxLayout* m_entries = nullptr;
};

} // namespace orvane

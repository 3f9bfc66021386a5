#pragma once

#include "protocol/types.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QString>

#include <vector>

namespace orvane {

struct ActivityEntry {
    Uuid id;
    QDateTime date;
    QString device; // the phone's name, or thisComputer() for its own events
    QString text;
    bool success = true;

    bool operator==(const ActivityEntry&) const = default;
};

// The device an event of the computer's own is logged under.
inline QString thisComputer()
{
    return QCoreApplication::translate("Activity", "This computer");
}

// Newest first, at most this many entries; nothing is kept across launches.
constexpr std::size_t maximumActivityEntries = 50;

inline void pushActivity(std::vector<ActivityEntry>& log, ActivityEntry entry)
{
    log.insert(log.begin(), std::move(entry));
    if (log.size() > maximumActivityEntries)
        log.resize(maximumActivityEntries);
}

} // namespace orvane

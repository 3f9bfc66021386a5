#pragma once

#include "platform/linux/desktop/desktop_entry_index.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

// A process as the search for a window's program sees it.
struct ProcessCandidate {
    std::int32_t pid = 0;
    std::uint64_t startTime = 0;
    QStringList names;     // its executable's and argv[0]'s file names
    QStringList arguments; // argv[1] onwards
};

// The process that shows windows with a Wayland application id: one named
// after the id, or after `program` (the program of the installed entry
// with that id, empty for none or a generic launcher), or one whose command
// line gives the id (`--app-id ID`, `--class=ID`). Of several, the first
// started: the application, not the helpers it starts. Nothing when none
// fits.
std::optional<std::int32_t> chooseAppProcess(const std::vector<ProcessCandidate>& processes,
                                             const QString& appId, const QString& program);

// Finds the processes behind windows that a compositor names only by their
// application id (the foreign-toplevel protocol tells no process). Only the
// user's own processes in the same Wayland session are considered. Answers
// are kept while their process lives; an id with no process is looked for
// again after a while, as its program may still be starting.
class ToplevelProcesses {
public:
    // The process showing windows of `appId`, or 0 when none is found.
    std::int32_t pidOf(const QString& appId);

private:
    struct Known {
        std::int32_t pid = 0;
        std::uint64_t startTime = 0;
        std::chrono::steady_clock::time_point lookedAt;
    };

    std::int32_t lookUp(const QString& appId);
    QString programOf(const QString& appId);

    DesktopEntryIndex m_index;
    QHash<QString, Known> m_known;
};

// The user's processes, as candidates (the Wayland session is checked
// later, for the few that match).
std::vector<ProcessCandidate> ownProcesses();

} // namespace orvane

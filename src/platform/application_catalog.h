#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

// An application the user can launch. The bundle identifier names it for
// good, whatever language the desktop speaks (e.g. "org.gnome.Calculator").
struct InstalledApp {
    QString bundleID;
    QString name;     // the localised display name
    QString fileName; // the entry's file name without its extension
    QString path;     // the entry's file
    bool operator==(const InstalledApp&) const = default;
};

// An application with at least one normal window on the desktop.
struct RunningApp {
    std::int32_t pid = 0;
    QString bundleID; // empty when no installed entry matches it
    QString name;     // localised name; empty when unknown
    QString fileName; // the matched entry's file name without extension, or empty
    bool operator==(const RunningApp&) const = default;
};

class ApplicationCatalog {
public:
    virtual ~ApplicationCatalog() = default;

    // Installed applications in the system's own order, the first one
    // winning for each identifier; hidden and unlaunchable ones are left
    // out. Unsorted.
    virtual std::vector<InstalledApp> installedApps() = 0;
    // The installed entry for an id, found the same way as the list.
    virtual std::optional<InstalledApp> findApp(const QString& bundleID) = 0;
    // The application the desktop opens files of this MIME type with: the
    // user's and then the system's chosen default, else the first installed
    // entry that handles the type; nothing when none does.
    virtual std::optional<InstalledApp> defaultAppFor(const QString& mimeType) = 0;
    // The desktop's favourites (its dock), in order; empty when unreadable.
    virtual std::vector<QString> dockApps() = 0;
    // Applications owning client windows, in the window manager's order,
    // one record per process.
    virtual std::vector<RunningApp> runningApps() = 0;

    // Starts the entry's program; false when it could not be started.
    virtual bool launch(const InstalledApp& app) = 0;
    // Asks politely: requests that the process's windows close, and sends
    // no signal, ever. The application decides; one that asks whether to
    // save, or refuses, keeps running. Returns at once.
    virtual void terminate(std::int32_t pid) = 0;
    // Asks the process to end at once, then ends it by force when the same
    // process still runs a few seconds later; false when it could not be
    // asked.
    virtual bool forceTerminate(std::int32_t pid) = 0;
    // Processes that belong to the session rather than being applications
    // the user runs: this program, the processes it runs under (the terminal
    // or session that started it, whose end would end this program too),
    // and the desktop's own shell (owners of the desktop or a dock window).
    // Quitting every application leaves these alone.
    virtual std::vector<std::int32_t> sessionProcesses() = 0;

    // The application's icon as the desktop shows it, a square PNG, or
    // nothing.
    virtual std::optional<QByteArray> iconPng(const QString& bundleID, int pixels) = 0;
    // This program's own identifier, which it never lists or quits.
    virtual QString ownBundleID() = 0;
};

} // namespace orvane

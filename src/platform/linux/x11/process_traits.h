#pragma once

#include "client_window.h"
#include "platform/linux/desktop/desktop_entry_index.h"

#include <functional>
#include <vector>

namespace orvane {

// What a running process shows of itself.
struct ProcessTraits {
    std::int32_t pid = 0;
    QString wmInstance;
    QString wmClass;
    QStringList executableNames; // see processExecutableNames()
};

// Whether a program starts many different applications (a shell, an
// interpreter), so that its name says nothing about which one runs.
bool isGenericLauncher(const QString& program);

// The installed entry a process belongs to: by StartupWMClass against its
// WM_CLASS, else by its executable against the entry's program, else by the
// entry's id against its WM_CLASS. Nothing when none fits.
const IndexedApp* matchInstalledApp(const std::vector<IndexedApp>& apps,
                                    const ProcessTraits& process);

// The record for a process, named after its entry, or after its window class
// or executable when no entry fits.
RunningApp describeProcess(const std::vector<IndexedApp>& apps, const ProcessTraits& process);

// One record per process owning a normal client window, in window order,
// leaving out our own process and windows that name no process.
std::vector<RunningApp>
runningAppsFromWindows(const std::vector<IndexedApp>& apps,
                       const std::vector<ClientWindow>& windows,
                       const std::function<QStringList(std::int32_t)>& executableNames);

} // namespace orvane

#pragma once

#include "platform/geometry.h"
#include "platform/window_system.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane {

struct KWinWindow {
    QString uuid; // KWin's own name for the window, stable for its life
    DesktopWindow window;
    bool active = false;
    bool operator==(const KWinWindow&) const = default;
};

struct KWinScreen {
    Rect geometry;
    Rect workArea; // without panels
    bool operator==(const KWinScreen&) const = default;
};

// What the script inside KWin reports: the windows front to back and the
// screens, KWin's first screen first.
struct KWinReport {
    std::vector<KWinWindow> windows;
    std::vector<KWinScreen> screens;
};

// The report in `json`, or nothing when it is not one; a window without a
// name is left out. Windows beyond `maxWindows` are dropped: a report is
// read at every change, and no desktop has that many.
std::optional<KWinReport> parseKWinReport(const QByteArray& json, std::size_t maxWindows = 512);

// Numbers for KWin's window names: a window keeps its number for as long as
// it is reported, and a number is not given again to another window.
class KWinWindowIds {
public:
    // Numbers the report's windows and forgets the windows it no longer holds.
    void number(std::vector<KWinWindow>& windows);
    std::optional<QString> uuid(std::uint32_t id) const;

private:
    QHash<QString, std::uint32_t> m_ids;
    QHash<std::uint32_t, QString> m_uuids;
    std::uint32_t m_next = 1;
};

} // namespace orvane

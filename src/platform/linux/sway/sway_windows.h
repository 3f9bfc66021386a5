#pragma once

#include "platform/window_system.h"
#include "platform/workspace_events.h"
#include "sway_tree.h"

#include <QObject>

#include <memory>
#include <set>

namespace orvane {

class SwayIpc;

// The windows of a sway desktop, through sway's own IPC socket, which (unlike
// the wlroots window-list protocol) names each window's process and place,
// and can move and resize windows. The tree is mirrored, read again whenever
// sway says a window or workspace changed, so reads never wait on sway;
// commands go out without waiting for their answer.
class SwayWindows final : public QObject, public WindowSystem, public WorkspaceEvents {
    Q_OBJECT
public:
    explicit SwayWindows(const QString& socketPath, QObject* parent = nullptr);
    ~SwayWindows() override;

    // Whether sway answered the last time it was asked.
    bool present() const { return m_present; }

    bool isAvailable() override { return m_present; }
    std::vector<DesktopWindow> windows() override { return m_tree.windows; }
    std::optional<std::uint32_t> activeWindow() override { return m_tree.focused; }
    std::optional<Rect> frame(std::uint32_t id) override;
    std::optional<Rect> workArea(Point p) override;
    bool activate(std::uint32_t id) override;
    // A tiled window has nothing in front of it, and a floating one cannot
    // be sent behind the tiles.
    void sendToBack(std::uint32_t) override {}
    void close(std::uint32_t id) override;
    // Sway has no minimised state: the scratchpad is where it hides windows.
    void minimize(std::uint32_t id) override;
    void toggleFullScreen(std::uint32_t id) override;
    // Floats the window, as a tiled one goes where the layout puts it.
    void setFrame(std::uint32_t id, const Rect& frame) override;
    std::optional<QByteArray> grabJpeg(std::uint32_t, int, int, int) override
    {
        return std::nullopt;
    }

    std::optional<std::int32_t> frontmostPid() override;

private:
    void refresh();
    void apply(std::optional<SwayTree> tree);
    bool command(std::uint32_t id, const QString& what);
    const DesktopWindow* find(std::uint32_t id) const;
    std::set<std::int32_t> applicationPids() const;

    std::unique_ptr<SwayIpc> m_events;
    std::unique_ptr<SwayIpc> m_requests;
    SwayTree m_tree;
    bool m_present = false;
    // One tree request at a time; changes meanwhile ask for one more after it.
    bool m_asking = false;
    bool m_askAgain = false;
};

} // namespace orvane

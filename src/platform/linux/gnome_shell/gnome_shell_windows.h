#pragma once

#include "platform/window_system.h"
#include "platform/workspace_events.h"
#include "shell_window_list.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <memory>
#include <set>

class QDBusServiceWatcher;

namespace orvane {

class ShellWindowPictures;

// The desktop's windows on GNOME under Wayland, where no client may see
// another's: Orvane's GNOME Shell extension lists and handles them for it.
// The window list is a mirror, read again whenever the extension says it
// changed, so that reading it never waits on the shell; requests go out
// without waiting for their answer.
class GnomeShellWindows final : public QObject, public WindowSystem, public WorkspaceEvents {
    Q_OBJECT
public:
    explicit GnomeShellWindows(QDBusConnection bus, QObject* parent = nullptr);
    ~GnomeShellWindows() override;

    // Whether the extension answered last time it was asked. Without it
    // (not installed, not enabled, or the shell not restarted since) the
    // list is empty and requests do nothing.
    bool present() const { return m_present; }
    // Called when present() changes, so that the user can be told why no
    // window shows.
    std::function<void()> onPresenceChanged;

    bool isAvailable() override { return m_present; }
    std::vector<DesktopWindow> windows() override;
    std::optional<std::uint32_t> activeWindow() override;
    std::optional<Rect> frame(std::uint32_t id) override;
    std::optional<Rect> workArea(Point p) override;

    bool activate(std::uint32_t id) override;
    void sendToBack(std::uint32_t id) override;
    void close(std::uint32_t id) override;
    void minimize(std::uint32_t id) override;
    void toggleFullScreen(std::uint32_t id) override;
    void setFrame(std::uint32_t id, const Rect& frame) override;
    // The last picture made of the window, from a screen cast of it alone;
    // the first request for a window or size answers nothing and has one made.
    std::optional<QByteArray> grabJpeg(std::uint32_t id, int width, int height,
                                       int quality) override;

    std::optional<std::int32_t> frontmostPid() override;

private Q_SLOTS:
    void refresh();

private:
    void received(const QDBusMessage& reply);
    void apply(std::vector<ShellWindow> windows, bool present);
    void forget();
    const ShellWindow* find(std::uint32_t id) const;
    // Sends a request about a window the mirror knows; false when it does not.
    bool request(std::uint32_t id, const char* method, const QVariantList& more = {});
    std::set<std::int32_t> applicationPids() const;

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher = nullptr;
    std::vector<ShellWindow> m_windows;
    bool m_present = false;
    // One GetWindows at a time; changes meanwhile ask for one more after it.
    bool m_asking = false;
    bool m_askAgain = false;
    unsigned m_generation = 0;
    std::optional<Rect> m_lastWorkArea;
    std::unique_ptr<ShellWindowPictures> m_pictures;
};

} // namespace orvane

#pragma once

#include "platform/window_system.h"

#include <QString>

#include <algorithm>
#include <string>
#include <vector>

namespace orvane {

// A desktop held in memory that records every request, one readable line
// each: "activate 7", "back 7", "close 7", "minimize 7", "fullscreen 7",
// "frame 7 0,25 720x875", "grab 7 400x250 q60".
class FakeWindowSystem final : public WindowSystem {
public:
    std::vector<DesktopWindow> desktop; // front to back
    std::optional<std::uint32_t> active;
    Rect area{0, 0, 1920, 1080};
    bool hasArea = true;
    std::vector<std::string> requests;

    bool isAvailable() override { return true; }
    std::vector<DesktopWindow> windows() override { return desktop; }
    std::optional<std::uint32_t> activeWindow() override { return active; }
    std::optional<Rect> frame(std::uint32_t id) override
    {
        const DesktopWindow* window = find(id);
        return window ? std::optional(window->frame) : std::nullopt;
    }
    std::optional<Rect> workArea(Point) override
    {
        return hasArea ? std::optional(area) : std::nullopt;
    }

    bool activate(std::uint32_t id) override
    {
        if (!find(id))
            return false;
        requests.push_back("activate " + std::to_string(id));
        return true;
    }
    void sendToBack(std::uint32_t id) override { record("back", id); }
    void close(std::uint32_t id) override { record("close", id); }
    void minimize(std::uint32_t id) override { record("minimize", id); }
    void toggleFullScreen(std::uint32_t id) override { record("fullscreen", id); }
    void setFrame(std::uint32_t id, const Rect& f) override
    {
        requests.push_back("frame " + std::to_string(id) + " " + number(f.x) + "," + number(f.y) +
                           " " + number(f.width) + "x" + number(f.height));
    }
    std::optional<QByteArray> grabJpeg(std::uint32_t id, int width, int height,
                                       int quality) override
    {
        requests.push_back("grab " + std::to_string(id) + " " + std::to_string(width) + "x" +
                           std::to_string(height) + " q" + std::to_string(quality));
        return find(id) ? std::optional(QByteArray("\xff\xd8jpeg")) : std::nullopt;
    }

    static std::string number(double v) { return QString::number(v, 'g', 12).toStdString(); }

private:
    const DesktopWindow* find(std::uint32_t id) const
    {
        auto it = std::find_if(desktop.begin(), desktop.end(),
                               [id](const DesktopWindow& w) { return w.id == id; });
        return it == desktop.end() ? nullptr : &*it;
    }
    void record(const char* what, std::uint32_t id)
    {
        requests.push_back(std::string(what) + " " + std::to_string(id));
    }
};

} // namespace orvane

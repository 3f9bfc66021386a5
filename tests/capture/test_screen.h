#pragma once

#include <QProcess>
#include <QString>

#include <xcb/xcb.h>

#include <cstdint>
#include <string>

namespace orvane::test {

// An Xvfb of our own, 3200 x 1000, split into two RandR monitors side by
// side, LEFT and RIGHT, 1600 x 1000 each. DISPLAY names it while it runs.
class TestScreen {
public:
    static constexpr int monitorWidth = 1600;
    static constexpr int monitorHeight = 1000;

    TestScreen() = default;
    ~TestScreen();
    TestScreen(const TestScreen&) = delete;
    TestScreen& operator=(const TestScreen&) = delete;

    // Empty when the screen is ready, else why not.
    QString start();

    // The monitor's id as the capture lists it (its name's atom).
    std::uint32_t addMonitor(const std::string& name, int x);
    void removeMonitor(std::uint32_t id);
    // Fills a rectangle of the root window with 0xRRGGBB and waits until the
    // server has done it.
    void fill(int x, int y, int width, int height, std::uint32_t rgb);
    void moveCursor(int x, int y);
    // The root window's X resources, as xrdb would set them.
    void setResources(const std::string& resources);
    // A round trip: everything sent before has been carried out.
    void sync();

private:
    QProcess m_xvfb;
    QByteArray m_oldDisplay;
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
};

} // namespace orvane::test

#pragma once

#include "support/managed_display.h"

#include <cstdint>
#include <string>

namespace orvane::test {

// Adds a RandR monitor over that part of the root window, or replaces the
// one of the same name; returns its name, which identifies it.
xcb_atom_t setMonitor(xcb_connection_t* c, xcb_window_t root, xcb_atom_t name, int x, int y,
                      int width, int height, bool primary = false);

// An Xvfb of our own, 3200 x 1000, to be split into RandR monitors of
// 1600 x 1000 side by side.
class TestScreen : public PrivateDisplay {
public:
    static constexpr int monitorWidth = 1600;
    static constexpr int monitorHeight = 1000;

    ::testing::AssertionResult start();
    // The monitor's id as the capture lists it (its name's atom).
    std::uint32_t addMonitor(const std::string& name, int x);
    void removeMonitor(std::uint32_t id);
    // Fills a rectangle of the root window with 0xRRGGBB.
    void fill(int x, int y, int width, int height, std::uint32_t rgb);
    void moveCursor(int x, int y);
    // The root window's X resources, as xrdb would set them.
    void setResources(const std::string& resources);
};

} // namespace orvane::test

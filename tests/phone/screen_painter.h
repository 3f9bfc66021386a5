#pragma once

// Something for screen sharing to show on the test display.
#include "support/x_test_client.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace orvane::phone::testing {

// Fills the root window with noise, so pictures are large, then changes a
// corner about every 20 ms until it ends; the screen is black again after.
class Painter {
public:
    ~Painter() { stop(); }
    ::testing::AssertionResult start()
    {
        if (auto opened = m_x.open(); !opened)
            return opened;
        xcb_connection_t* c = m_x.connection();
        m_gc = xcb_generate_id(c);
        xcb_create_gc(c, m_gc, m_x.root(), 0, nullptr);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        m_width = screen->width_in_pixels;
        m_height = screen->height_in_pixels;
        std::vector<std::uint32_t> row(std::size_t(m_width) * 40);
        std::uint32_t seed = 12345;
        for (int y = 0; y < m_height; y += 40) {
            for (auto& pixel : row)
                pixel = seed = seed * 1103515245 + 12345;
            xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_x.root(), m_gc, m_width, 40, 0, y, 0, 24,
                          std::uint32_t(row.size() * 4),
                          reinterpret_cast<const std::uint8_t*>(row.data()));
        }
        m_x.sync();
        m_thread = std::thread([this] {
            for (std::uint32_t n = 0; !m_stop; ++n) {
                fill(0, 0, 64, 64, n * 0x10203);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        return ::testing::AssertionSuccess();
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_x.connection())
            fill(0, 0, m_width, m_height, 0);
    }

private:
    void fill(int x, int y, int width, int height, std::uint32_t rgb)
    {
        xcb_connection_t* c = m_x.connection();
        xcb_change_gc(c, m_gc, XCB_GC_FOREGROUND, &rgb);
        xcb_rectangle_t r{std::int16_t(x), std::int16_t(y), std::uint16_t(width),
                          std::uint16_t(height)};
        xcb_poly_fill_rectangle(c, m_x.root(), m_gc, 1, &r);
        m_x.sync();
    }

    test::XTestClient m_x;
    xcb_gcontext_t m_gc = 0;
    int m_width = 0;
    int m_height = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace orvane::phone::testing

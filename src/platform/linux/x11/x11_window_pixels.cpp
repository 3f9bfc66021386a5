#include "x11_window_pixels.h"

#include "x11_properties.h"
#include "x11_window_system.h"

#include <xcb/composite.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

namespace orvane {

namespace {

// How a drawable stores a pixel; only 8 bits per colour in 32-bit pixels
// (every depth-24 and depth-32 true-colour visual) is read.
struct PixelFormat {
    bool msbFirst = false;
    int redShift = 0, greenShift = 0, blueShift = 0;
};

std::optional<PixelFormat> pixelFormat(X11Connection& x11, xcb_visualid_t visualId,
                                       std::uint8_t depth)
{
    const xcb_setup_t* setup = xcb_get_setup(x11.get());
    int bitsPerPixel = 0;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == depth)
            bitsPerPixel = f.data->bits_per_pixel;
    }
    if (bitsPerPixel != 32)
        return std::nullopt;
    const auto eightBits = [](std::uint32_t mask) {
        return std::popcount(mask) == 8 && (mask >> std::countr_zero(mask)) == 0xff;
    };
    for (auto d = xcb_screen_allowed_depths_iterator(x11.screen()); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            const xcb_visualtype_t* visual = v.data;
            if (visual->visual_id != visualId)
                continue;
            if (!eightBits(visual->red_mask) || !eightBits(visual->green_mask) ||
                !eightBits(visual->blue_mask))
                return std::nullopt;
            return PixelFormat{setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST,
                               std::countr_zero(visual->red_mask),
                               std::countr_zero(visual->green_mask),
                               std::countr_zero(visual->blue_mask)};
        }
    }
    return std::nullopt;
}

std::optional<ScreenPixels> readPixels(X11Connection& x11, xcb_drawable_t drawable,
                                       const PixelFormat& format, int x, int y, int width,
                                       int height)
{
    xcb_connection_t* c = x11.get();
    const auto image =
        takeReply(c,
                  xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, std::int16_t(x),
                                std::int16_t(y), std::uint16_t(width), std::uint16_t(height), ~0u),
                  &xcb_get_image_reply);
    const std::size_t count = std::size_t(width) * std::size_t(height);
    if (!image || std::size_t(xcb_get_image_data_length(image.get())) < count * 4)
        return std::nullopt;
    const std::uint8_t* data = xcb_get_image_data(image.get());
    ScreenPixels out{width, height, std::vector<std::uint32_t>(count)};
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* b = data + i * 4;
        const std::uint32_t value =
            format.msbFirst ? (std::uint32_t(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3])
                            : (std::uint32_t(b[3]) << 24 | b[2] << 16 | b[1] << 8 | b[0]);
        out.rgb[i] = ((value >> format.redShift) & 0xff) << 16 |
                     ((value >> format.greenShift) & 0xff) << 8 |
                     ((value >> format.blueShift) & 0xff);
    }
    return out;
}

bool compositeAvailable(xcb_connection_t* c)
{
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_composite_id);
    if (!extension || !extension->present)
        return false;
    const auto version =
        takeReply(c, xcb_composite_query_version(c, 0, 4), &xcb_composite_query_version_reply);
    // NameWindowPixmap came with 0.2.
    return version && (version->major_version > 0 || version->minor_version >= 2);
}

// A compositing manager owns _NET_WM_CM_S<screen number>.
bool compositingManagerRunning(X11Connection& x11)
{
    xcb_connection_t* c = x11.get();
    int number = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        if (it.data->root == x11.root())
            break;
        ++number;
    }
    const xcb_atom_t selection = x11.atom("_NET_WM_CM_S" + std::to_string(number));
    const auto owner =
        takeReply(c, xcb_get_selection_owner(c, selection), &xcb_get_selection_owner_reply);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

// The pixmap that holds a redirected window's contents; nothing for a window
// whose contents go straight to the screen.
std::optional<xcb_pixmap_t> namePixmap(xcb_connection_t* c, xcb_window_t window)
{
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, window, pixmap));
    const bool named = error == nullptr;
    std::free(error);
    return named ? std::optional(pixmap) : std::nullopt;
}

xcb_rectangle_t pixelRectangle(const Rect& r, double originX, double originY)
{
    const auto edge = [](double v) { return std::clamp(v, -32768.0, 32767.0); };
    const double left = edge(std::floor(r.minX() - originX));
    const double top = edge(std::floor(r.minY() - originY));
    return {std::int16_t(left), std::int16_t(top),
            std::uint16_t(edge(std::ceil(r.maxX() - originX)) - left),
            std::uint16_t(edge(std::ceil(r.maxY() - originY)) - top)};
}

// Redirecting gives the window a pixmap of its own, which the server fills
// with what the screen showed there: the windows that covered it, and for
// the parts off the screen whatever memory held. Those parts are painted
// black before any other client runs again; the application repaints them
// in answer to the exposure that the redirection sends it. The window stays
// redirected for as long as we are connected, so it keeps its contents up
// to date for the next picture; the server copies them to the screen.
std::optional<xcb_pixmap_t> redirect(X11Connection& x11, xcb_window_t window)
{
    xcb_connection_t* c = x11.get();
    xcb_grab_server(c);
    std::optional<xcb_pixmap_t> pixmap;
    if (const std::optional<TopLevel> top = topLevelOf(x11, window)) {
        const xcb_screen_t* screen = x11.screen();
        std::vector<Rect> hidden = coveredParts(top->area, windowsAbove(x11, window));
        for (const Rect& part : partsOutside(top->area, {0, 0, double(screen->width_in_pixels),
                                                         double(screen->height_in_pixels)}))
            hidden.push_back(part);
        xcb_composite_redirect_window(c, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        pixmap = namePixmap(c, window);
        if (pixmap && !hidden.empty()) {
            std::vector<xcb_rectangle_t> rectangles;
            for (const Rect& part : hidden)
                rectangles.push_back(pixelRectangle(part, top->area.x, top->area.y));
            const xcb_gcontext_t gc = xcb_generate_id(c);
            const std::uint32_t black = 0;
            xcb_create_gc(c, gc, *pixmap, XCB_GC_FOREGROUND, &black);
            xcb_poly_fill_rectangle(c, *pixmap, gc, std::uint32_t(rectangles.size()),
                                    rectangles.data());
            xcb_free_gc(c, gc);
        }
    }
    xcb_ungrab_server(c);
    xcb_flush(c);
    return pixmap;
}

} // namespace

std::optional<TopLevel> topLevelOf(X11Connection& x11, xcb_window_t client)
{
    xcb_connection_t* c = x11.get();
    xcb_window_t window = client;
    constexpr int maxNesting = 32; // frames nest a few levels at most
    for (int level = 0;; ++level) {
        const auto tree = takeReply(c, xcb_query_tree(c, window), &xcb_query_tree_reply);
        if (!tree || level == maxNesting)
            return std::nullopt;
        if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE)
            break;
        window = tree->parent;
    }
    const auto attributes =
        takeReply(c, xcb_get_window_attributes(c, window), &xcb_get_window_attributes_reply);
    const auto geometry = takeReply(c, xcb_get_geometry(c, window), &xcb_get_geometry_reply);
    if (!attributes || !geometry)
        return std::nullopt;
    const double border = 2.0 * geometry->border_width;
    return TopLevel{window,
                    {double(geometry->x), double(geometry->y), geometry->width + border,
                     geometry->height + border},
                    attributes->visual,
                    geometry->depth};
}

std::vector<Rect> windowsAbove(X11Connection& x11, xcb_window_t topLevel)
{
    xcb_connection_t* c = x11.get();
    const auto tree = takeReply(c, xcb_query_tree(c, x11.root()), &xcb_query_tree_reply);
    if (!tree)
        return {};
    // The children come bottom to top.
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const xcb_window_t* end = children + xcb_query_tree_children_length(tree.get());
    const xcb_window_t* above = std::find(children, end, topLevel);
    above = above == end ? end : above + 1;
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> asked;
    for (const xcb_window_t* w = above; w != end; ++w)
        asked.emplace_back(xcb_get_window_attributes(c, *w), xcb_get_geometry(c, *w));
    std::vector<Rect> out;
    for (const auto& [attributesCookie, geometryCookie] : asked) {
        const auto attributes = takeReply(c, attributesCookie, &xcb_get_window_attributes_reply);
        const auto geometry = takeReply(c, geometryCookie, &xcb_get_geometry_reply);
        if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
            continue; // gone, unmapped, or never drawn
        const double border = 2.0 * geometry->border_width;
        out.push_back({double(geometry->x), double(geometry->y), geometry->width + border,
                       geometry->height + border});
    }
    return out;
}

std::optional<ScreenPixels> ownContents(X11Connection& x11, xcb_window_t topLevel)
{
    xcb_connection_t* c = x11.get();
    if (!compositeAvailable(c))
        return std::nullopt;
    std::optional<xcb_pixmap_t> pixmap = namePixmap(c, topLevel);
    // A compositing manager chose to show this window straight on the
    // screen (a full-screen game, say); that choice stays its own.
    if (!pixmap && !compositingManagerRunning(x11))
        pixmap = redirect(x11, topLevel);
    if (!pixmap)
        return std::nullopt;
    std::optional<ScreenPixels> pixels;
    const std::optional<TopLevel> top = topLevelOf(x11, topLevel);
    const auto format = top ? pixelFormat(x11, top->visual, top->depth) : std::nullopt;
    if (format)
        pixels =
            readPixels(x11, *pixmap, *format, 0, 0, int(top->area.width), int(top->area.height));
    xcb_free_pixmap(c, *pixmap);
    return pixels;
}

std::optional<ScreenPixels> screenContents(X11Connection& x11, int x, int y, int width, int height)
{
    const xcb_screen_t* screen = x11.screen();
    const std::optional<PixelFormat> format =
        pixelFormat(x11, screen->root_visual, screen->root_depth);
    if (!format)
        return std::nullopt;
    return readPixels(x11, x11.root(), *format, x, y, width, height);
}

// Larger pictures are not thumbnails; refusing them bounds the memory a
// strange frame size can ask for.
constexpr std::int64_t maxPixels = std::int64_t(1) << 26;

// The picture shows the window and nothing else, decorations included.
// Where the server keeps no pixels of the window's own, it comes from the
// screen, with the parts other windows cover painted black.
std::optional<QByteArray> X11WindowSystem::grabJpeg(std::uint32_t id, int width, int height,
                                                    int quality)
{
    if (width < 1 || height < 1 || std::int64_t(width) * height > maxPixels || width > 65535 ||
        height > 65535)
        return std::nullopt;
    if (!this->frame(id))
        return std::nullopt; // not a client, or not on the screen
    const std::optional<TopLevel> top = topLevelOf(*m_x11, id);
    if (!top)
        return std::nullopt;
    const Rect& area = top->area;
    if (const auto own = ownContents(*m_x11, top->window))
        return encodeJpeg(scaleFrame(*own, 0, 0, own->width, own->height, width, height), width,
                          height, quality);
    const xcb_screen_t* screen = m_x11->screen();
    const Rect visible =
        area.intersected({0, 0, double(screen->width_in_pixels), double(screen->height_in_pixels)});
    if (visible.isNull())
        return std::nullopt; // wholly off the screen: nothing to read
    std::optional<ScreenPixels> pixels = screenContents(*m_x11, int(visible.x), int(visible.y),
                                                        int(visible.width), int(visible.height));
    if (!pixels)
        return std::nullopt;
    paintBlack(*pixels, visible.x, visible.y,
               coveredParts(area, windowsAbove(*m_x11, top->window)));
    return encodeJpeg(scaleFrame(*pixels, int(visible.x - area.x), int(visible.y - area.y),
                                 int(area.width), int(area.height), width, height),
                      width, height, quality);
}

} // namespace orvane

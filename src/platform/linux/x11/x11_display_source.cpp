#include "x11_display_source.h"

#include "x11_connection.h"

#include <xcb/randr.h>

#include <algorithm>
#include <array>
#include <vector>

namespace orvane {

namespace {

// Connector names of laptop panels: embedded DisplayPort, LVDS and MIPI DSI.
bool isBuiltInOutputName(const QString& name)
{
    static const std::array<QString, 3> prefixes = {QStringLiteral("eDP"), QStringLiteral("LVDS"),
                                                    QStringLiteral("DSI")};
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const QString& p) { return name.startsWith(p, Qt::CaseInsensitive); });
}

// Two monitors over the same area show the same picture: one is a mirror.
// The primary one, else the first listed, is the one that is not.
void markMirrors(std::vector<DisplayDescription>& displays)
{
    std::stable_partition(displays.begin(), displays.end(),
                          [](const DisplayDescription& d) { return d.isMain; });
    for (std::size_t i = 0; i < displays.size(); ++i) {
        for (std::size_t j = 0; j < i && !displays[i].isMirror; ++j)
            displays[i].isMirror = displays[j].bounds == displays[i].bounds;
    }
}

class X11DisplaySource final : public DisplaySource {
public:
    explicit X11DisplaySource(std::shared_ptr<X11Connection> x11) : m_x11(std::move(x11)) {}

    std::vector<DisplayDescription> activeDisplays() override
    {
        if (!m_x11->ensureConnected())
            return {};
        std::vector<DisplayDescription> displays = randrMonitors();
        if (displays.empty())
            return {rootDisplay()};
        markMirrors(displays);
        return displays;
    }

private:
    bool hasMonitors();
    std::vector<DisplayDescription> randrMonitors();
    QString outputName(xcb_randr_output_t output);
    QString atomName(xcb_atom_t atom);
    DisplayDescription rootDisplay() const;

    std::shared_ptr<X11Connection> m_x11;
    unsigned m_generation = 0;
    bool m_hasMonitors = false;
};

// Monitors came with RandR 1.5; asked once per server.
bool X11DisplaySource::hasMonitors()
{
    if (m_generation == m_x11->generation())
        return m_hasMonitors;
    m_generation = m_x11->generation();
    m_hasMonitors = false;
    xcb_connection_t* c = m_x11->get();
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (!randr || !randr->present)
        return false;
    XcbReply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    m_hasMonitors = version && (version->major_version > 1 ||
                                (version->major_version == 1 && version->minor_version >= 5));
    return m_hasMonitors;
}

std::vector<DisplayDescription> X11DisplaySource::randrMonitors()
{
    std::vector<DisplayDescription> displays;
    if (!hasMonitors())
        return displays;
    xcb_connection_t* c = m_x11->get();
    XcbReply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
        c, xcb_randr_get_monitors(c, m_x11->root(), 1 /* active only */), nullptr));
    if (!reply)
        return displays;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* monitor = it.data;
        DisplayDescription display;
        display.isMain = monitor->primary;
        display.bounds = {double(monitor->x), double(monitor->y), double(monitor->width),
                          double(monitor->height)};
        if (xcb_randr_monitor_info_outputs_length(monitor) > 0) {
            // The output's id outlives the monitor, which RandR rebuilds on
            // every configuration change.
            const xcb_randr_output_t output = xcb_randr_monitor_info_outputs(it.data)[0];
            display.id = output;
            display.name = outputName(output);
            display.isBuiltIn = isBuiltInOutputName(display.name);
        } else {
            display.id = monitor->name;
            display.name = atomName(monitor->name);
        }
        displays.push_back(std::move(display));
    }
    return displays;
}

QString X11DisplaySource::outputName(xcb_randr_output_t output)
{
    xcb_connection_t* c = m_x11->get();
    XcbReply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
        c, xcb_randr_get_output_info(c, output, XCB_CURRENT_TIME), nullptr));
    if (!info)
        return {};
    return QString::fromUtf8(
        reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
        xcb_randr_get_output_info_name_length(info.get()));
}

QString X11DisplaySource::atomName(xcb_atom_t atom)
{
    if (atom == XCB_ATOM_NONE)
        return {};
    xcb_connection_t* c = m_x11->get();
    XcbReply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
    if (!reply)
        return {};
    return QString::fromUtf8(xcb_get_atom_name_name(reply.get()),
                             xcb_get_atom_name_name_length(reply.get()));
}

// Without RandR monitors the whole screen is the one display.
DisplayDescription X11DisplaySource::rootDisplay() const
{
    const xcb_screen_t* screen = m_x11->screen();
    DisplayDescription display;
    display.id = screen->root;
    display.isMain = true;
    display.bounds = {0, 0, double(screen->width_in_pixels), double(screen->height_in_pixels)};
    return display;
}

} // namespace

std::unique_ptr<DisplaySource> makeX11DisplaySource(std::shared_ptr<X11Connection> x11)
{
    if (!x11)
        x11 = std::make_shared<X11Connection>();
    return std::make_unique<X11DisplaySource>(std::move(x11));
}

} // namespace orvane

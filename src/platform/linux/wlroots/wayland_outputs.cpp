#include "wayland_outputs.h"

#include "wayland_connection.h"

#include <wayland-client.h>

#include <algorithm>

namespace orvane {

namespace {

using Output = WaylandOutputs::Output;

void geometry(void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
              std::int32_t, const char*, const char*, std::int32_t transform)
{
    auto* self = static_cast<Output*>(data);
    self->x = x;
    self->y = y;
    self->turned = transform % 2 == 1; // 90 and 270, plain or flipped
}

void mode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
          std::int32_t)
{
    if (!(flags & WL_OUTPUT_MODE_CURRENT))
        return;
    auto* self = static_cast<Output*>(data);
    self->pixelWidth = width;
    self->pixelHeight = height;
    self->placed = width > 0 && height > 0;
}

void done(void*, wl_output*) {}
void scaled(void* data, wl_output*, std::int32_t factor)
{
    static_cast<Output*>(data)->scale = std::max(factor, 1);
}
void name(void*, wl_output*, const char*) {}
void description(void*, wl_output*, const char*) {}

constexpr wl_output_listener listener{&geometry, &mode, &done, &scaled, &name, &description};

} // namespace

Rect WaylandOutputs::Output::rect() const
{
    const double w = double(turned ? pixelHeight : pixelWidth) / scale;
    const double h = double(turned ? pixelWidth : pixelHeight) / scale;
    return {double(x), double(y), w, h};
}

WaylandOutputs::WaylandOutputs(WaylandConnection& connection)
{
    for (const auto& [id, proxy] : connection.bindAll(wl_output_interface, 3)) {
        auto output = std::make_unique<Output>();
        output->id = id;
        output->output = static_cast<wl_output*>(proxy);
        wl_output_add_listener(output->output, &listener, output.get());
        m_outputs.push_back(std::move(output));
    }
}

WaylandOutputs::~WaylandOutputs()
{
    for (const auto& output : m_outputs)
        wl_output_destroy(output->output);
}

std::vector<const Output*> WaylandOutputs::known() const
{
    std::vector<const Output*> known;
    for (const auto& output : m_outputs)
        if (output->placed)
            known.push_back(output.get());
    return known;
}

const Output* WaylandOutputs::find(std::uint32_t id) const
{
    for (const auto& output : m_outputs)
        if (output->id == id && output->placed)
            return output.get();
    return nullptr;
}

void WaylandOutputs::remove(std::uint32_t id)
{
    std::erase_if(m_outputs, [id](const std::unique_ptr<Output>& output) {
        if (output->id != id)
            return false;
        wl_output_destroy(output->output);
        return true;
    });
}

Rect WaylandOutputs::extent() const
{
    Rect extent;
    for (const Output* output : known())
        extent = extent.united(output->rect());
    return extent;
}

} // namespace orvane

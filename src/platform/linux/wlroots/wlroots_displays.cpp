#include "wlroots_displays.h"

#include "wayland_connection.h"
#include "wayland_outputs.h"

#include <QObject>

namespace orvane {

namespace {

class WlrootsDisplays final : public DisplaySource {
public:
    explicit WlrootsDisplays(std::shared_ptr<WaylandConnection> connection)
        : m_connection(std::move(connection))
    {
        m_connection->whenSynced(&m_context, [this](bool connected) {
            if (connected)
                m_outputs = std::make_unique<WaylandOutputs>(*m_connection);
        });
        QObject::connect(m_connection.get(), &WaylandConnection::globalRemoved, &m_context,
                         [this](std::uint32_t name) {
                             if (m_outputs)
                                 m_outputs->remove(name);
                         });
    }

    ~WlrootsDisplays() override
    {
        m_outputs.reset();
        m_connection->flush();
    }

    std::vector<DisplayDescription> activeDisplays() override
    {
        std::vector<DisplayDescription> displays;
        if (!m_outputs || !m_connection->isConnected())
            return displays;
        for (const WaylandOutputs::Output* output : m_outputs->known()) {
            DisplayDescription display;
            display.id = output->id;
            display.isMain = displays.empty();
            display.bounds = output->rect();
            displays.push_back(display);
        }
        return displays;
    }

private:
    std::shared_ptr<WaylandConnection> m_connection;
    QObject m_context; // ends the connection's callbacks with this object
    std::unique_ptr<WaylandOutputs> m_outputs;
};

} // namespace

std::unique_ptr<DisplaySource> makeWlrootsDisplays(std::shared_ptr<WaylandConnection> connection)
{
    return std::make_unique<WlrootsDisplays>(std::move(connection));
}

} // namespace orvane

#include "portal_sessions.h"

#include <unistd.h>

namespace orvane {

namespace {

// The one screen a session shares before the user has picked it; opening it
// asks.
constexpr std::uint32_t pickedByTheUser = 0;

class PortalStreamOpener final : public ScreenStreamOpener {
public:
    explicit PortalStreamOpener(std::shared_ptr<PortalSessions> sessions)
        : m_sessions(std::move(sessions))
    {
    }

    bool available() override
    {
        const PortalApproval approval = m_sessions->screenApproval();
        return approval != PortalApproval::declined && approval != PortalApproval::unavailable;
    }
    std::vector<CaptureDisplay> displays() override;
    void open(std::uint32_t displayID, Opened done) override;

private:
    static void openOn(const std::shared_ptr<PortalSession>& session, std::uint32_t displayID,
                       Opened done);

    std::shared_ptr<PortalSessions> m_sessions;
    std::shared_ptr<PortalSession> m_last;
};

std::vector<CaptureDisplay> PortalStreamOpener::displays()
{
    if (!available())
        return {};
    const std::vector<PortalStream>* streams = nullptr;
    if (m_last && m_last->state() == PortalSession::State::started)
        streams = &m_last->streams();
    if (!streams || streams->empty())
        return {CaptureDisplay{pickedByTheUser, 0, 0, 1, true}};
    std::vector<CaptureDisplay> displays;
    for (const PortalStream& stream : *streams) {
        const QSize size = stream.size.value_or(QSize());
        displays.push_back({stream.node, size.width(), size.height(), 1, displays.empty()});
    }
    return displays;
}

void PortalStreamOpener::open(std::uint32_t displayID, Opened done)
{
    if (!available()) {
        done(std::nullopt, QStringLiteral("Sharing the screen was declined"));
        return;
    }
    m_last = m_sessions->screens();
    m_last->whenSettled([session = std::weak_ptr<PortalSession>(m_last), displayID,
                         done = std::move(done)]() mutable {
        if (auto s = session.lock())
            openOn(s, displayID, std::move(done));
        else
            done(std::nullopt, QStringLiteral("The screen is no longer shared"));
    });
}

void PortalStreamOpener::openOn(const std::shared_ptr<PortalSession>& session,
                                std::uint32_t displayID, Opened done)
{
    if (portalApproval(session.get(), false) != PortalApproval::granted) {
        done(std::nullopt, QStringLiteral("Sharing the screen was declined"));
        return;
    }
    const auto& streams = session->streams();
    auto stream = std::find_if(streams.begin(), streams.end(), [displayID](const auto& s) {
        return displayID == pickedByTheUser || s.node == displayID;
    });
    if (stream == streams.end()) {
        done(std::nullopt, QStringLiteral("That display is not shared"));
        return;
    }
    session->openPipeWireRemote(
        [session, node = stream->node, done = std::move(done)](int fd, QString error) {
            if (fd < 0) {
                done(std::nullopt, QStringLiteral("No stream of the screen: %1").arg(error));
                return;
            }
            // The session lives as long as any stream of it.
            done(ScreenStreamHandle{fd, node, session}, QString());
        });
}

} // namespace

std::shared_ptr<ScreenStreamOpener> makePortalStreamOpener(std::shared_ptr<PortalSessions> sessions)
{
    return std::make_shared<PortalStreamOpener>(std::move(sessions));
}

} // namespace orvane

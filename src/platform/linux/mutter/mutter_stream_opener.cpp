#include "mutter_stream_opener.h"

#include "mutter_monitors.h"
#include "mutter_names.h"
#include "mutter_session.h"

#include <QDBusConnectionInterface>
#include <QTimer>

namespace orvane {

namespace {

class MutterStreamOpener final : public ScreenStreamOpener {
public:
    explicit MutterStreamOpener(std::shared_ptr<MutterSession> session)
        : m_session(std::move(session))
    {
    }

    bool available() override
    {
        const QDBusConnectionInterface* names = m_session->bus().interface();
        return names && names->isServiceRegistered(mutter::screenCastService).value();
    }

    std::vector<CaptureDisplay> displays() override
    {
        return m_session->monitors().captureDisplays();
    }

    void open(std::uint32_t displayID, Opened done) override
    {
        const auto monitor = m_session->monitors().byId(displayID);
        if (!monitor) {
            QTimer::singleShot(0, m_session.get(), [done = std::move(done)] {
                done(std::nullopt, QStringLiteral("That display is not connected"));
            });
            return;
        }
        // The handle holds the session itself too: a stream outliving every
        // other user must not find its session gone.
        std::weak_ptr<MutterSession> weak = m_session;
        m_session->openStream(
            monitor->connector,
            [weak, done = std::move(done)](std::optional<std::uint32_t> node, QString error) {
                auto session = weak.lock();
                if (!node || !session) {
                    done(std::nullopt, error.isEmpty() ? QStringLiteral("No stream") : error);
                    return;
                }
                auto hold = session->hold();
                ScreenStreamHandle handle;
                handle.nodeId = *node;
                handle.keepOpen = std::shared_ptr<void>(
                    nullptr, [session, hold](void*) mutable { hold.reset(); });
                done(std::move(handle), QString());
            });
    }

private:
    std::shared_ptr<MutterSession> m_session;
};

class MutterDisplaySource final : public DisplaySource {
public:
    explicit MutterDisplaySource(std::shared_ptr<MutterSession> session)
        : m_session(std::move(session))
    {
    }
    std::vector<DisplayDescription> activeDisplays() override
    {
        return m_session->monitors().descriptions();
    }

private:
    std::shared_ptr<MutterSession> m_session;
};

} // namespace

std::shared_ptr<ScreenStreamOpener> makeMutterStreamOpener(std::shared_ptr<MutterSession> session)
{
    return std::make_shared<MutterStreamOpener>(std::move(session));
}

std::unique_ptr<DisplaySource> makeMutterDisplaySource(std::shared_ptr<MutterSession> session)
{
    return std::make_unique<MutterDisplaySource>(std::move(session));
}

} // namespace orvane

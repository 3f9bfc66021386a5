#include "mutter_backend.h"

#include "mutter_clipboard.h"
#include "mutter_input_device.h"
#include "mutter_monitors.h"
#include "mutter_pasteboard.h"
#include "mutter_session.h"
#include "mutter_stream_opener.h"

namespace orvane {

namespace {

// One clipboard for each session, shared by typing's pastes and the
// clipboard commands: two would both answer the desktop for one selection.
class SharedClipboard {
public:
    explicit SharedClipboard(QDBusConnection bus) : m_bus(std::move(bus)) {}

    // The clipboard of the session at `path`; nothing without a session.
    MutterClipboard* at(const QString& path)
    {
        if (path.isEmpty())
            return nullptr;
        if (!m_clipboard || m_path != path) {
            m_clipboard = std::make_unique<MutterClipboard>(m_bus, path);
            m_path = path;
        }
        return m_clipboard.get();
    }

private:
    QDBusConnection m_bus;
    std::unique_ptr<MutterClipboard> m_clipboard;
    QString m_path;
};

class MutterPasteClipboard final : public SessionClipboard {
public:
    explicit MutterPasteClipboard(MutterClipboard& clipboard) : m_clipboard(clipboard)
    {
        QObject::connect(&m_clipboard, &MutterClipboard::transferred, &m_context, [this] {
            // A copy: the handler may replace itself while it runs.
            if (auto pasted = m_pasted)
                pasted();
        });
    }
    std::optional<QString> read(int timeoutMs) override { return m_clipboard.read(timeoutMs); }
    void offer(const QString& text, std::function<void(bool)> done) override
    {
        m_clipboard.offer(text, std::move(done));
    }
    void onTransferred(std::function<void()> pasted) override { m_pasted = std::move(pasted); }

private:
    MutterClipboard& m_clipboard;
    QObject m_context; // ends the connection with this object
    std::function<void()> m_pasted;
};

} // namespace

MutterBackend makeMutterBackend(const QDBusConnection& bus)
{
    auto session = std::make_shared<MutterSession>(bus);
    auto shared = std::make_shared<SharedClipboard>(bus);
    MutterBackend backend;
    backend.input = makeMutterInputDevice(session, [shared](const QString& sessionPath) {
        MutterClipboard* clipboard = shared->at(sessionPath);
        return clipboard ? std::make_unique<MutterPasteClipboard>(*clipboard) : nullptr;
    });
    backend.pasteboard = std::make_unique<MutterPasteboard>(
        [session, shared] { return shared->at(session->sessionPath()); },
        [session, shared](std::function<void(MutterClipboard*)> give) {
            session->whenStarted([session, shared, give](bool started) {
                give(started ? shared->at(session->sessionPath()) : nullptr);
            });
        });
    backend.displays = makeMutterDisplaySource(session);
    backend.streams = makeMutterStreamOpener(session);
    backend.watchMonitors = [session](QObject* context, std::function<void()> changed) {
        QObject::connect(&session->monitors(), &MutterMonitors::changed, context,
                         std::move(changed));
    };
    return backend;
}

} // namespace orvane

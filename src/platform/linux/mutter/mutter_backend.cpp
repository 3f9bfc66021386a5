#include "mutter_backend.h"

#include "mutter_clipboard.h"
#include "mutter_input_device.h"
#include "mutter_session.h"
#include "mutter_stream_opener.h"

namespace orvane {

namespace {

class MutterPasteClipboard final : public SessionClipboard {
public:
    MutterPasteClipboard(QDBusConnection bus, const QString& sessionPath)
        : m_clipboard(std::move(bus), sessionPath)
    {
        QObject::connect(&m_clipboard, &MutterClipboard::transferred, &m_clipboard, [this] {
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
    MutterClipboard m_clipboard;
    std::function<void()> m_pasted;
};

} // namespace

MutterBackend makeMutterBackend(const QDBusConnection& bus)
{
    auto session = std::make_shared<MutterSession>(bus);
    MutterBackend backend;
    backend.input = makeMutterInputDevice(session, [bus](const QString& sessionPath) {
        return std::make_unique<MutterPasteClipboard>(bus, sessionPath);
    });
    backend.displays = makeMutterDisplaySource(session);
    backend.streams = makeMutterStreamOpener(session);
    return backend;
}

} // namespace orvane

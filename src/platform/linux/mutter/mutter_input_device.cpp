#include "mutter_input_device.h"

#include "platform/linux/evdev_keys.h"

#include "mutter_backend.h"
#include "mutter_names.h"
#include "mutter_session.h"
#include "xkb_layout.h"

#include <QDBusServiceWatcher>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cmath>
#include <deque>
#include <vector>

namespace orvane {

namespace {

Q_LOGGING_CATEGORY(lcInput, "orvane.mutter.input")

constexpr int buttonLeft = 0x110;
constexpr int buttonRight = 0x111;

constexpr unsigned axisFinish = 1u << 0;
constexpr unsigned axisSourceFinger = 1u << 2;
// The desktop scrolls one wheel step per 10 units of smooth scrolling; the
// phone's pixels scroll a step per 15, as on X11.
constexpr double unitsPerPixel = 10.0 / 15.0;
constexpr double maxUnitsPerCall = 1000;
// A touchpad says when the fingers lift; we say it once the phone has been
// quiet this long, so kinetic scrolling in applications can end.
constexpr int scrollEndMs = 150;

// Waiting for the old clipboard may not stall the event loop.
constexpr int clipboardReadMs = 40;
// The pasting program may read our offer late; after this the user's own
// clipboard comes back anyway.
constexpr int transferWaitMs = 2000;
constexpr int offerWaitMs = 5000;
// A program inserts pasted text once it has read all of it, which can be
// after the keys that follow the paste have reached it: those wait a moment.
constexpr int pasteSettleMs = 150;
constexpr std::size_t maxOperations = 4096;
constexpr qsizetype maxPasteChars = 64 * 1024;
constexpr int layoutReadMs = 5000;

MutterInputEvent keycodeEvent(unsigned keycode, bool down)
{
    return {QStringLiteral("NotifyKeyboardKeycode"), {keycode, down}, {}};
}

MutterInputEvent keysymEvent(std::uint32_t sym, bool down)
{
    return {QStringLiteral("NotifyKeyboardKeysym"), {sym, down}, {}};
}

// One step of input in the order it was asked for: events to send, or a
// text to paste (which takes a while, and everything after it waits).
struct Operation {
    std::vector<MutterInputEvent> events;
    QString paste;
};

class MutterInputDevice final : public InputDevice {
public:
    MutterInputDevice(std::shared_ptr<MutterSession> session, SessionClipboardFactory clipboard,
                      QString gsettings);
    ~MutterInputDevice() override;

    bool isAvailable() override { return m_available; }
    void pressKey(KeyShortcut::Key key, ModifierMask modifiers) override;
    void typeText(std::string_view utf8) override;
    std::optional<Point> cursorPosition() override { return m_cursor; }
    void moveCursor(Point global) override;
    void setButton(MouseButton button, bool down) override;
    void scroll(double dx, double dy) override;
    void flush() override {}

private:
    void readLayout();
    const XkbLayoutKeysyms& layout();
    void enqueue(Operation operation);
    void pump();
    void startPaste(const QString& text);
    void pasteOffered(unsigned serial, bool offered, std::optional<QString> old);
    void finishPaste(unsigned serial, std::optional<QString> restore);
    SessionClipboard* clipboard();

    std::shared_ptr<MutterSession> m_owner;
    MutterSession& m_session;
    SessionClipboardFactory m_makeClipboard;
    QString m_gsettings;
    QObject m_context;
    bool m_available = false;
    QDBusServiceWatcher m_watcher;
    XkbLayoutName m_layoutName;
    std::optional<XkbLayoutKeysyms> m_layout;
    std::unique_ptr<SessionClipboard> m_clipboard;
    QString m_clipboardPath;
    std::deque<Operation> m_operations;
    bool m_pasting = false;
    unsigned m_pasteSerial = 0;
    QTimer m_pasteTimer;
    QTimer m_scrollEnd;
    std::optional<Point> m_cursor;
};

MutterInputDevice::MutterInputDevice(std::shared_ptr<MutterSession> session,
                                     SessionClipboardFactory clipboard, QString gsettings)
    : m_owner(session), m_session(*session), m_makeClipboard(std::move(clipboard)),
      m_gsettings(gsettings.isEmpty() ? QStringLiteral("gsettings") : std::move(gsettings)),
      m_available(mutterRemoteDesktopPresent(session->bus())),
      m_watcher(mutter::remoteDesktopService, session->bus(),
                QDBusServiceWatcher::WatchForRegistration |
                    QDBusServiceWatcher::WatchForUnregistration)
{
    QObject::connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, &m_context,
                     [this] { m_available = true; });
    QObject::connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, &m_context,
                     [this] { m_available = false; });
    // The clipboard belongs to one session; a new session needs a new one,
    // and the user may have switched layouts meanwhile.
    QObject::connect(session.get(), &MutterSession::closed, &m_context, [this] {
        m_clipboard.reset();
        m_clipboardPath.clear();
    });
    QObject::connect(session.get(), &MutterSession::started, &m_context, [this] { readLayout(); });
    m_pasteTimer.setSingleShot(true);
    m_scrollEnd.setSingleShot(true);
    m_scrollEnd.setInterval(scrollEndMs);
    m_scrollEnd.callOnTimeout(&m_context, [this] {
        m_session.send(
            {QStringLiteral("NotifyPointerAxis"), {0.0, 0.0, axisSourceFinger | axisFinish}, {}});
    });
    readLayout();
}

MutterInputDevice::~MutterInputDevice()
{
    // A layout still being read is of no use any more.
    for (QProcess* process : m_context.findChildren<QProcess*>()) {
        process->disconnect();
        process->kill();
        process->waitForFinished(100);
    }
}

void MutterInputDevice::readLayout()
{
    auto* process = new QProcess(&m_context);
    QObject::connect(process, &QProcess::finished, &m_context, [this, process](int code) {
        process->deleteLater();
        const XkbLayoutName name =
            code == 0 ? firstXkbInputSource(QString::fromUtf8(process->readAllStandardOutput()))
                      : XkbLayoutName{};
        if (name != m_layoutName || !m_layout) {
            m_layoutName = name;
            m_layout.reset(); // compiled when next needed
        }
    });
    QObject::connect(process, &QProcess::errorOccurred, process, &QObject::deleteLater);
    QTimer::singleShot(layoutReadMs, process, [process] { process->kill(); });
    process->start(m_gsettings,
                   {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.input-sources"),
                    QStringLiteral("sources")});
}

const XkbLayoutKeysyms& MutterInputDevice::layout()
{
    if (!m_layout) {
        m_layout.emplace(m_layoutName);
        if (m_layout->isEmpty()) {
            qCWarning(lcInput) << "keyboard layout" << m_layoutName.layout << "does not compile";
            m_layout.emplace(XkbLayoutName{});
        }
    }
    return *m_layout;
}

void MutterInputDevice::pressKey(KeyShortcut::Key key, ModifierMask modifiers)
{
    Operation operation;
    for (const auto& [code, down] : evdev::shortcutPresses(key, modifiers))
        operation.events.push_back(keycodeEvent(code, down));
    if (!operation.events.empty())
        enqueue(std::move(operation));
}

void MutterInputDevice::typeText(std::string_view utf8)
{
    const QList<uint> codePoints = QString::fromUtf8(utf8.data(), qsizetype(utf8.size())).toUcs4();
    Operation keys;
    QString paste;
    for (qsizetype i = 0; i < codePoints.size(); ++i) {
        const char32_t cp = codePoints[i];
        if (cp == U'\r' && i + 1 < codePoints.size() && codePoints[i + 1] == U'\n')
            continue; // "\r\n" is one Return: the "\n" types it
        const std::uint32_t sym = evdev::keysymFor(cp);
        if (sym != XKB_KEY_NoSymbol && layout().contains(sym)) {
            if (!paste.isEmpty())
                enqueue({{}, std::exchange(paste, {})});
            keys.events.push_back(keysymEvent(sym, true));
            keys.events.push_back(keysymEvent(sym, false));
        } else if (cp >= 0x20 && !(cp >= 0x7F && cp < 0xA0)) {
            if (!keys.events.empty())
                enqueue(std::exchange(keys, {}));
            if (paste.size() < maxPasteChars)
                paste += QString::fromUcs4(&cp, 1);
        }
    }
    if (!paste.isEmpty())
        enqueue({{}, paste});
    if (!keys.events.empty())
        enqueue(std::move(keys));
}

void MutterInputDevice::moveCursor(Point global)
{
    if (!std::isfinite(global.x) || !std::isfinite(global.y))
        return;
    m_cursor = global;
    enqueue({{{QStringLiteral("NotifyPointerMotionAbsolute"), {}, global}}, {}});
}

void MutterInputDevice::setButton(MouseButton button, bool down)
{
    const int code = button == MouseButton::right ? buttonRight : buttonLeft;
    enqueue({{{QStringLiteral("NotifyPointerButton"), {code, down}, {}}}, {}});
}

void MutterInputDevice::scroll(double dx, double dy)
{
    if (!std::isfinite(dx) || !std::isfinite(dy) || (dx == 0 && dy == 0))
        return;
    // The desktop's axes point right and down; ours left and up.
    const double x = std::clamp(-dx * unitsPerPixel, -maxUnitsPerCall, maxUnitsPerCall);
    const double y = std::clamp(-dy * unitsPerPixel, -maxUnitsPerCall, maxUnitsPerCall);
    enqueue({{{QStringLiteral("NotifyPointerAxis"), {x, y, axisSourceFinger}, {}}}, {}});
    m_scrollEnd.start();
}

void MutterInputDevice::enqueue(Operation operation)
{
    if (m_operations.size() >= maxOperations)
        m_operations.pop_front();
    m_operations.push_back(std::move(operation));
    pump();
}

void MutterInputDevice::pump()
{
    while (!m_pasting && !m_operations.empty()) {
        Operation next = std::move(m_operations.front());
        m_operations.pop_front();
        if (next.events.empty()) {
            startPaste(next.paste);
        } else {
            for (MutterInputEvent& event : next.events)
                m_session.send(std::move(event));
        }
    }
}

SessionClipboard* MutterInputDevice::clipboard()
{
    const QString path = m_session.sessionPath();
    if (path.isEmpty() || !m_makeClipboard)
        return nullptr;
    if (!m_clipboard || m_clipboardPath != path) {
        m_clipboard = m_makeClipboard(path);
        m_clipboardPath = path;
    }
    return m_clipboard.get();
}

void MutterInputDevice::startPaste(const QString& text)
{
    m_pasting = true;
    const unsigned serial = ++m_pasteSerial;
    // The session's own deadline bounds the wait for it to start.
    // The session outlives us when a stream still holds it.
    m_session.whenStarted(
        [this, alive = QPointer<QObject>(&m_context), serial, text](bool started) {
            if (!alive || serial != m_pasteSerial || !m_pasting)
                return;
            SessionClipboard* board = started ? clipboard() : nullptr;
            if (!board) {
                finishPaste(serial, std::nullopt);
                return;
            }
            m_pasteTimer.disconnect(&m_context);
            m_pasteTimer.callOnTimeout(&m_context,
                                       [this, serial] { finishPaste(serial, std::nullopt); });
            m_pasteTimer.start(offerWaitMs);
            std::optional<QString> old = board->read(clipboardReadMs);
            board->offer(text,
                         [this, serial, old](bool offered) { pasteOffered(serial, offered, old); });
        });
}

void MutterInputDevice::pasteOffered(unsigned serial, bool offered, std::optional<QString> old)
{
    if (serial != m_pasteSerial || !m_pasting)
        return;
    if (!offered || !m_clipboard) {
        qCWarning(lcInput) << "the desktop did not take text to paste";
        finishPaste(serial, std::nullopt);
        return;
    }
    m_clipboard->onTransferred([this, serial, old] {
        m_pasteTimer.disconnect(&m_context);
        m_pasteTimer.callOnTimeout(&m_context, [this, serial, old] { finishPaste(serial, old); });
        m_pasteTimer.start(pasteSettleMs);
    });
    m_pasteTimer.disconnect(&m_context);
    m_pasteTimer.callOnTimeout(&m_context, [this, serial, old] { finishPaste(serial, old); });
    m_pasteTimer.start(transferWaitMs);
    for (const MutterInputEvent& event :
         {keycodeEvent(KEY_LEFTCTRL, true), keycodeEvent(KEY_V, true), keycodeEvent(KEY_V, false),
          keycodeEvent(KEY_LEFTCTRL, false)})
        m_session.send(event);
}

void MutterInputDevice::finishPaste(unsigned serial, std::optional<QString> restore)
{
    if (serial != m_pasteSerial || !m_pasting)
        return;
    m_pasting = false;
    m_pasteTimer.stop();
    if (m_clipboard) {
        m_clipboard->onTransferred({});
        if (restore)
            m_clipboard->offer(*restore, [](bool) {});
    }
    pump();
}

} // namespace

std::unique_ptr<InputDevice> makeMutterInputDevice(std::shared_ptr<MutterSession> session,
                                                   SessionClipboardFactory clipboard,
                                                   QString gsettingsProgram)
{
    return std::make_unique<MutterInputDevice>(std::move(session), std::move(clipboard),
                                               std::move(gsettingsProgram));
}

} // namespace orvane

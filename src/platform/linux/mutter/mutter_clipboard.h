#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace orvane {

// The clipboard of one GNOME remote-desktop session: what the desktop's
// clipboard holds, and text this program offers to it. It needs no window
// of ours and no focus, and works for any text, whatever the keyboard
// layout.
class MutterClipboard : public QObject {
    Q_OBJECT
public:
    // `sessionPath`: the remote-desktop session's object path. Enables the
    // session's clipboard at once.
    MutterClipboard(QDBusConnection bus, QString sessionPath, QObject* parent = nullptr);
    ~MutterClipboard() override;

    // Puts `text` on offer as the desktop's clipboard. `offered` runs on the
    // main thread once the desktop has taken the offer (true), or could not
    // (false): only then may a paste be asked for. It does not run when
    // this clipboard goes first.
    void offer(const QString& text, std::function<void(bool offered)> done);
    // The same, waiting at most `timeoutMs` for the desktop's answer, for
    // callers that must say at once whether the text is on the clipboard.
    bool offerNow(const QString& text, int timeoutMs = 1000);
    // The text the desktop's clipboard holds now (ours or another
    // program's); nothing when it holds no text, or no answer came within
    // `timeoutMs`. It waits for the owner's answer, the event loop stopped.
    std::optional<QString> read(int timeoutMs = 1000);
    // Whether what is on the clipboard is still our last offer.
    bool ownsSelection() const;

Q_SIGNALS:
    // A program read our offer (a paste), and was given the text.
    void transferred();
    // Another program took the clipboard over.
    void lostSelection();

private Q_SLOTS:
    void selectionTransfer(const QString& mimeType, uint serial);
    void selectionOwnerChanged(const QVariantMap& options);

private:
    void writeSelection(uint serial, bool pasted);
    void finishTransfer(uint serial, bool written, bool pasted);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace orvane

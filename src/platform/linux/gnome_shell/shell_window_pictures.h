#pragma once

#include "platform/linux/window_picture_shelf.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>

namespace orvane {

class PipeWireStreamReader;

// Pictures of single windows, each from a short screen cast of that window
// alone (mutter records a window by the id the shell extension gives), so
// other windows never show in it. A cast takes a fifth of a second or more,
// too long to wait for: a picture asked for is made in the background, and
// the next request for that window and size gets it.
class ShellWindowPictures final : public QObject {
    Q_OBJECT
public:
    explicit ShellWindowPictures(QDBusConnection bus, QObject* parent = nullptr);
    ~ShellWindowPictures() override;

    // The last picture of the window at this size, if one was made; asks for
    // a fresh one either way.
    std::optional<QByteArray> jpeg(std::uint64_t window, int width, int height, int quality);
    // Drops the pictures of windows that are gone.
    void keepOnly(const std::set<std::uint64_t>& windows);

private Q_SLOTS:
    void streamAdded(uint node);

private:
    using Shelf = WindowPictureShelf<std::uint64_t>;

    void next();
    QDBusMessage castCall(const QString& path, const QString& interface, const char* method,
                          const QVariantList& arguments = {});
    void call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> done);
    void recordWindow(const QString& session);
    void framed(const ScreenPixels& pixels);
    void finish();

    QDBusConnection m_bus;
    Shelf m_shelf;
    // The cast under way: its session, stream and reader.
    QString m_session;
    QString m_stream;
    std::unique_ptr<PipeWireStreamReader> m_reader;
    unsigned m_generation = 0;
};

} // namespace orvane

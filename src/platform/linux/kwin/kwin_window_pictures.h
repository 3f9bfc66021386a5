#pragma once

#include "kwin_raw_image.h"
#include "platform/linux/window_picture_shelf.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <optional>
#include <set>

class QSocketNotifier;

namespace orvane {

// Pictures of single windows from KWin's screenshot service, which draws a
// window alone, so windows above it never show in it. KWin answers with the
// picture's size and then writes its pixels into a pipe of ours. That takes
// too long to wait for: a picture asked for is made in the background, and
// the next request for that window and size gets it.
//
// KWin draws only for programs it trusts: one whose executable is the Exec
// line of a desktop entry that lists org.kde.KWin.ScreenShot2 under
// X-KDE-DBUS-Restricted-Interfaces. Any other gets no pictures, and a
// warning says so once.
class KWinWindowPictures final : public QObject {
public:
    explicit KWinWindowPictures(QDBusConnection bus, QObject* parent = nullptr);
    ~KWinWindowPictures() override;

    // The last picture of the window (KWin's id for it) at this size, if one
    // was made; asks for a fresh one either way.
    std::optional<QByteArray> jpeg(const QString& window, int width, int height, int quality);
    // Drops the pictures of windows that are gone.
    void keepOnly(const std::set<QString>& windows);

private:
    using Shelf = WindowPictureShelf<QString>;

    void next();
    void answered(const QDBusMessage& reply);
    void readable();
    void framed();
    void finish();

    QDBusConnection m_bus;
    Shelf m_shelf;
    // The picture under way: the pipe's end we read, what KWin said it
    // writes, and what came so far.
    int m_pipe = -1;
    QSocketNotifier* m_notifier = nullptr; // a child; goes with deleteLater
    std::optional<KWinRawImage> m_layout;
    QByteArray m_data;
    qint64 m_read = 0;
    unsigned m_generation = 0;
    QElapsedTimer m_refused; // since KWin last turned us away
    bool m_warned = false;
};

} // namespace orvane

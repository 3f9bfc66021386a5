#pragma once

#include "server/orvane_server.h"

#include <QLayout>
#include <QWidget>

#include <functional>

namespace orvane {

// Runs `refresh` now and again whenever one of the status's change signals
// fires, so a view recomputes everything that reads those fields.
template <class... Signal>
void follow(ServerStatus& status, QObject* context, const std::function<void()>& refresh,
            Signal... signal)
{
    (QObject::connect(&status, signal, context, refresh), ...);
    refresh();
}

// While the listener runs but the local network cannot find it (no
// avahi-daemon, or the advertisement was lost): phones that know the address
// still connect.
inline QString notAdvertisedText(quint16 port)
{
    return tr("Listening on port %1, but not visible on the network").arg(port);
}

// Removes and deletes every item of a layout that is rebuilt on change.
inline void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            // A button of the row may be what asked for the rebuild: its
            // object must outlive this turn of the loop, but not be seen.
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        } else if (QLayout* inner = item->layout())
            clearLayout(inner);
        delete item;
    }
}

// The name of a phone as it is stored.
inline QString nameOf(const TrustedDevice& device)
{
    return QString::fromStdString(device.name);
}

} // namespace orvane

#include "desktop_session.h"

#include "style.h"
#include "symbols.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>

namespace orvane {

namespace {

DesktopRoute& route()
{
    static DesktopRoute chosen;
    return chosen;
}

} // namespace

void setDesktopRoute(DesktopRoute chosen)
{
    route() = std::move(chosen);
}

const DesktopRoute& desktopRoute()
{
    return route();
}

QWidget* desktopRouteRow(int textPixelSize, bool warningOnly)
{
    const bool warning = route().onlyXWayland;
    if ((warningOnly && !warning) || route().description.isEmpty())
        return nullptr;
    const style::Tone colour = warning ? style::orange() : style::secondaryText();
    auto* row =
        new style::Surface(warning ? style::warningBackground() : style::Tone(Qt::transparent), 8);
    row->setObjectName(QStringLiteral("desktopRoute"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(8);
    layout->addWidget(
        symbolLabel(warning ? QStringLiteral("warning") : QStringLiteral("keyboard"), 16, colour),
        0, Qt::AlignTop);
    QString text =
        QCoreApplication::translate("orvane", "Input and screen: %1").arg(route().description);
    if (warning)
        text = QCoreApplication::translate(
            "orvane", "This is a Wayland session without a remote-desktop service Orvane can use: "
                      "keys, the pointer, windows and screen sharing reach only X11 programs, "
                      "through XWayland.");
    layout->addWidget(style::label(text, textPixelSize, colour, QFont::Normal, true), 1);
    return row;
}

} // namespace orvane

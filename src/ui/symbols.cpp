#include "symbols.h"

#include "style.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>

namespace orvane {

QPixmap symbol(const QString& name, int size, const QColor& colour, qreal pixelRatio)
{
    QFile file(QStringLiteral(":/orvane/symbols/%1.svg").arg(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray svg = file.readAll();
    svg.replace("currentColor", colour.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return {};
    QPixmap pixmap(QSize(size, size) * pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(pixelRatio);
    return pixmap;
}

QLabel* symbolLabel(const QString& name, int size, const QColor& colour, int frame)
{
    auto* label = new QLabel;
    label->setPixmap(symbol(name, size, colour, label->devicePixelRatioF()));
    label->setAlignment(Qt::AlignCenter);
    label->setFixedSize(std::max(size, frame), std::max(size, frame));
    label->setProperty("symbol", name);
    return label;
}

QString traySymbolName(TrayState state)
{
    switch (state) {
    case TrayState::sharing:
        return QStringLiteral("record");
    case TrayState::connected:
        return QStringLiteral("phone-waves");
    case TrayState::idle:
        break;
    }
    return QStringLiteral("phone");
}

QIcon trayIcon(TrayState state)
{
    // Panels are mostly dark; the recording state stands out in red.
    QColor colour = state == TrayState::sharing ? style::accent() : QColor(0xee, 0xee, 0xee);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(symbol(traySymbolName(state), size, colour));
    return icon;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(symbol(QStringLiteral("orvane"), size, Qt::white));
    return icon;
}

} // namespace orvane

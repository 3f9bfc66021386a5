#include "symbols.h"

#include "theme.h"

#include <QFile>
#include <QIconEngine>
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

QLabel* symbolLabel(const QString& name, int size, const style::Tone& colour, int frame)
{
    auto* label = new QLabel;
    // Until someone puts another picture in its place (and clears the
    // "symbol" property).
    auto draw = [label, name, size, colour] {
        if (label->property("symbol").toString() == name)
            label->setPixmap(symbol(name, size, colour.current(), label->devicePixelRatioF()));
    };
    label->setProperty("symbol", name);
    draw();
    style::onThemeChange(label, draw);
    label->setAlignment(Qt::AlignCenter);
    label->setFixedSize(std::max(size, frame), std::max(size, frame));
    return label;
}

QString traySymbolName(TrayState state)
{
    switch (state) {
    case TrayState::sharing:
        return QStringLiteral("orvane-sharing-symbolic");
    case TrayState::connected:
        return QStringLiteral("orvane-connected-symbolic");
    case TrayState::idle:
        break;
    }
    return QStringLiteral("orvane-idle-symbolic");
}

QImage trayPicture(TrayState state, int size)
{
    // The symbol light (the recording dot keeps its red), on a copy of its
    // shape in dark widened by a pixel or two.
    QImage glyph = symbol(traySymbolName(state), size, QColor(0xf2, 0xf2, 0xf2)).toImage();
    QImage rim = glyph.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter tint(&rim);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(rim.rect(), QColor(0x14, 0x14, 0x14, 0xe0));
    tint.end();
    QImage picture(glyph.size(), QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    const int width = std::max(1, size / 22);
    for (int dx = -width; dx <= width; ++dx)
        for (int dy = -width; dy <= width; ++dy)
            if (dx || dy)
                painter.drawImage(dx, dy, rim);
    painter.drawImage(0, 0, glyph);
    return picture;
}

namespace {

class TrayIconEngine final : public QIconEngine {
public:
    explicit TrayIconEngine(TrayState state) : m_state(state) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(rect.width(), rect.height());
        QRect square(0, 0, side, side);
        square.moveCenter(rect.center());
        painter->drawImage(square, trayPicture(m_state, side));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        return QPixmap::fromImage(trayPicture(m_state, std::min(size.width(), size.height())));
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
    }
    // Only a name the desktop can find: a tray that cannot find it may show
    // nothing rather than the picture.
    QString iconName() override
    {
        const QString name = traySymbolName(m_state);
        return QIcon::hasThemeIcon(name) ? name : QString();
    }
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("orvane-tray"); }
    QIconEngine* clone() const override { return new TrayIconEngine(m_state); }

private:
    TrayState m_state;
};

} // namespace

QIcon trayIcon(TrayState state)
{
    return QIcon(new TrayIconEngine(state));
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(symbol(QStringLiteral("orvane"), size, Qt::white));
    return icon;
}

} // namespace orvane

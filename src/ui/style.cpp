#include "style.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace orvane::style {

QColor grey(double whiteLevel)
{
    return QColor::fromRgbF(float(whiteLevel), float(whiteLevel), float(whiteLevel));
}

QFont font(int pixelSize, QFont::Weight weight)
{
    QFont f;
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QString rgb(const QColor& colour)
{
    return colour.name(QColor::HexRgb);
}

QLabel* label(const QString& text, int pixelSize, const QColor& colour, QFont::Weight weight,
              bool wrap)
{
    auto* l = new QLabel(text);
    l->setFont(font(pixelSize, weight));
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, colour);
    l->setPalette(palette);
    l->setWordWrap(wrap);
    // Names come from phones: never let one be read as markup.
    l->setTextFormat(Qt::PlainText);
    return l;
}

QPushButton* plainButton(const QString& text, const QColor& colour)
{
    auto* button = new QPushButton(text);
    button->setFont(font(14, QFont::DemiBold));
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; background: %2; border: none;"
                       " border-radius: 7px; padding: 6px 14px; }"
                       "QPushButton:hover { background: %3; }"
                       "QPushButton:disabled { color: %4; }")
            .arg(rgb(colour), rgb(raised()), rgb(divider()), rgb(secondaryText())));
    return button;
}

QFrame* dividerLine()
{
    auto* line = new QFrame;
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: %1; border: none;").arg(rgb(divider())));
    return line;
}

QLabel* dot(int diameter, const QColor& colour)
{
    auto* d = new QLabel;
    d->setFixedSize(diameter, diameter);
    setDotColour(d, colour);
    return d;
}

void setDotColour(QLabel* dot, const QColor& colour)
{
    dot->setStyleSheet(QStringLiteral("background: %1; border-radius: %2px;")
                           .arg(rgb(colour))
                           .arg(dot->width() / 2.0));
    dot->setProperty("colour", colour);
}

Surface::Surface(const QColor& colour, int radius, QWidget* parent)
    : QWidget(parent), m_colour(colour), m_radius(radius)
{
}

void Surface::setColour(const QColor& colour)
{
    m_colour = colour;
    update();
}

void Surface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_colour);
    painter.drawRoundedRect(rect(), m_radius, m_radius);
}

} // namespace orvane::style

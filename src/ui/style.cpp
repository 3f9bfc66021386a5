#include "style.h"

#include "theme.h"

#include <QFrame>
#include <QMenu>
#include <QPainter>
#include <QPushButton>

namespace orvane::style {

namespace {

// Sets what `apply` sets now and again after each change of look.
template <class Apply> void keep(QWidget* widget, Apply apply)
{
    apply();
    onThemeChange(widget, apply);
}

// Paints the status dot: antialiased, so that it is round at any size.
class StatusDot : public QLabel {
public:
    explicit StatusDot(const Tone& colour) : m_colour(colour)
    {
        setFixedSize(dotDiameter, dotDiameter);
        setColour(colour);
    }
    void setColour(const Tone& colour)
    {
        m_colour = colour;
        setProperty("colour", colour.current());
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_colour.current());
        painter.drawEllipse(QRectF(rect()));
    }

private:
    Tone m_colour;
};

} // namespace

Tone::Tone(const QColor& dark, const QColor& light)
    : QColor(isDark() ? dark : light), m_dark(dark), m_light(light)
{
}

QColor Tone::current() const
{
    return of(isDark());
}

QColor level(double whiteLevel)
{
    return QColor::fromRgbF(float(whiteLevel), float(whiteLevel), float(whiteLevel));
}

Tone grey(double whiteLevel)
{
    return {level(whiteLevel), level(1 - whiteLevel)};
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
    if (colour.alpha() == 255)
        return colour.name(QColor::HexRgb);
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alpha());
}

void setForeground(QWidget* widget, const Tone& tone)
{
    keep(widget, [widget, tone] {
        QPalette palette; // this role alone: the others follow the application's
        palette.setColor(QPalette::WindowText, tone.current());
        widget->setPalette(palette);
    });
}

void setBackground(QWidget* window, const Tone& tone)
{
    window->setAutoFillBackground(true);
    keep(window, [window, tone] {
        QPalette palette;
        palette.setColor(QPalette::Window, tone.current());
        palette.setColor(QPalette::Base, tone.current());
        palette.setColor(QPalette::WindowText, primaryText().current());
        window->setPalette(palette);
    });
}

QLabel* label(const QString& text, int pixelSize, const Tone& colour, QFont::Weight weight,
              bool wrap)
{
    auto* l = new QLabel(text);
    l->setFont(font(pixelSize, weight));
    setForeground(l, colour);
    l->setWordWrap(wrap);
    // Names come from phones: never let one be read as markup.
    l->setTextFormat(Qt::PlainText);
    return l;
}

QPushButton* plainButton(const QString& text, const Tone& colour, const Tone& background)
{
    auto* button = new QPushButton(text);
    button->setFont(font(14, QFont::DemiBold));
    button->setCursor(Qt::PointingHandCursor);
    keep(button, [button, colour, background] {
        button->setStyleSheet(
            QStringLiteral("QPushButton { color: %1; background: %2; border: none;"
                           " border-radius: 7px; padding: 6px 14px; }"
                           "QPushButton:hover { background: %3; }"
                           "QPushButton:disabled { color: %4; }")
                .arg(rgb(colour.current()), rgb(background.current()), rgb(divider().current()),
                     rgb(secondaryText().current())));
    });
    return button;
}

QFrame* dividerLine()
{
    auto* line = new QFrame;
    line->setFixedHeight(1);
    keep(line, [line] {
        line->setStyleSheet(
            QStringLiteral("background: %1; border: none;").arg(rgb(divider().current())));
    });
    return line;
}

QLabel* dot(const Tone& colour)
{
    return new StatusDot(colour);
}

void setDotColour(QLabel* dot, const Tone& colour)
{
    if (auto* status = dynamic_cast<StatusDot*>(dot))
        status->setColour(colour);
}

void styleMenu(QMenu* menu)
{
    menu->setFont(font(13));
    keep(menu, [menu] {
        menu->setStyleSheet(
            QStringLiteral("QMenu { background: %1; color: %2; border: 1px solid %3;"
                           " padding: 6px; }"
                           "QMenu::item { padding: 6px 22px 6px 12px; border-radius: 6px; }"
                           "QMenu::item:selected { background: %4; }"
                           "QMenu::item:disabled { color: %5; }"
                           "QMenu::separator { height: 1px; background: %3; margin: 6px 4px; }")
                .arg(rgb(cardBackground().current()), rgb(primaryText().current()),
                     rgb(divider().current()), rgb(raised().current()),
                     rgb(secondaryText().current())));
    });
}

Surface::Surface(const Tone& colour, int radius, QWidget* parent)
    : QWidget(parent), m_colour(colour), m_radius(radius)
{
}

void Surface::setColour(const Tone& colour)
{
    m_colour = colour;
    update();
}

void Surface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_colour.current());
    painter.drawRoundedRect(rect(), m_radius, m_radius);
}

} // namespace orvane::style

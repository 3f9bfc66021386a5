#include "theme.h"

#include "style.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace orvane::style {

namespace {

// Qt's own palette, as it is while we have not replaced it.
bool qtPaletteIsDark()
{
    if (!qGuiApp)
        return true;
    const QPalette palette = QGuiApplication::palette();
    return palette.color(QPalette::Window).lightness() <
           palette.color(QPalette::WindowText).lightness();
}

} // namespace

Theme& Theme::instance()
{
    static Theme* theme = new Theme; // lives as long as the program
    return *theme;
}

Theme::Theme()
{
    m_dark = qtPaletteIsDark();
    if (qApp)
        qApp->installEventFilter(this);
}

void Theme::followPreference(std::optional<bool> dark)
{
    m_preference = dark;
    m_applying = true;
    if (dark) {
        QApplication::setPalette(palette(*dark));
        m_ownPalette = true;
    } else if (m_ownPalette) {
        // A palette without any role set resolves wholly to Qt's own.
        QApplication::setPalette(QPalette());
        m_ownPalette = false;
    }
    m_applying = false;
    settle(dark.value_or(qtPaletteIsDark()));
}

void Theme::settle(bool dark)
{
    if (dark == m_dark)
        return;
    m_dark = dark;
    Q_EMIT changed();
    // What paints itself from the tones asks for them again.
    for (QWidget* widget : QApplication::allWidgets())
        widget->update();
}

bool Theme::eventFilter(QObject* watched, QEvent* event)
{
    // The platform changed Qt's palette: it is ours to follow only while
    // the desktop states no preference.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange && !m_applying &&
        !m_preference)
        settle(qtPaletteIsDark());
    return QObject::eventFilter(watched, event);
}

void onThemeChange(QObject* context, std::function<void()> apply)
{
    QObject::connect(&Theme::instance(), &Theme::changed, context, std::move(apply));
}

QPalette palette(bool dark)
{
    auto pick = [dark](const Tone& tone) { return tone.of(dark); };
    QPalette p;
    p.setColor(QPalette::Window, pick(windowBackground()));
    p.setColor(QPalette::Base, pick(cardBackground()));
    p.setColor(QPalette::AlternateBase, pick(raised()));
    p.setColor(QPalette::ToolTipBase, pick(cardBackground()));
    p.setColor(QPalette::Button, pick(raised()));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                      QPalette::ToolTipText, QPalette::BrightText})
        p.setColor(role, pick(primaryText()));
    p.setColor(QPalette::PlaceholderText, pick(secondaryText()));
    p.setColor(QPalette::Highlight, pick(accent()));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, pick(accent()));
    p.setColor(QPalette::LinkVisited, pick(darkAccent()));
    // The shades Fusion draws scroll bars, frames and menus with: lighter
    // and darker than a button in either look.
    const std::initializer_list<std::pair<QPalette::ColorRole, Tone>> shades = {
        {QPalette::Light, Tone(level(0.3), level(1))},
        {QPalette::Midlight, Tone(level(0.22), level(0.93))},
        {QPalette::Mid, Tone(level(0.2), level(0.75))},
        {QPalette::Dark, Tone(level(0.1), level(0.6))},
        {QPalette::Shadow, Tone(level(0), level(0.3))}};
    for (const auto& [role, tone] : shades)
        p.setColor(role, pick(tone));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, pick(secondaryText()));
    return p;
}

} // namespace orvane::style

#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>
#include <QWidget>

class QFrame;
class QMenu;
class QPushButton;

// The look of the main window, the pairing panel and the tray panel and its
// menu, light or dark as theme.h says: one palette of tones, type in pixel
// sizes, and the few kinds of control they share.
namespace orvane::style {

// A colour with a version for each look. As a QColor it is the version of
// the look in use when it was made: code that paints asks for the tone when
// it paints, and the helpers below keep what they make in the look in use.
class Tone : public QColor {
public:
    Tone(const QColor& dark, const QColor& light);
    // The same in both looks.
    Tone(const QColor& both) : Tone(both, both) {}
    Tone(Qt::GlobalColor both) : Tone(QColor(both)) {}

    const QColor& of(bool dark) const { return dark ? m_dark : m_light; }
    // The version of the look in use now.
    QColor current() const;

private:
    QColor m_dark;
    QColor m_light;
};

// A grey of this much white.
QColor level(double whiteLevel);
// A grey given for the dark look; the light look has its mirror image, so
// that it stands as far from the background.
Tone grey(double whiteLevel);
inline Tone windowBackground()
{
    return {level(0), level(0.95)};
}
inline Tone cardBackground()
{
    return {level(0.085), level(1)};
}
inline Tone raised()
{
    return {level(0.15), level(0.9)};
}
inline Tone divider()
{
    return {level(0.2), level(0.84)};
}
inline Tone faint()
{
    return {level(0.05), level(0.97)};
}
inline Tone primaryText()
{
    return {Qt::white, QColor(0x1d, 0x1d, 0x1f)};
}
inline Tone secondaryText()
{
    return {level(0.6), QColor(0x6e, 0x6e, 0x73)};
}
// The red of the program, and the background it stands on in banners.
inline Tone accent()
{
    return {QColor::fromRgbF(0.93f, 0.11f, 0.2f), QColor(0xd7, 0x00, 0x15)};
}
inline Tone darkAccent()
{
    return {QColor::fromRgbF(0.55f, 0.04f, 0.1f), QColor(0xfc, 0xdd, 0xe1)};
}
// Darker on light backgrounds, so that text in them stays readable.
inline Tone green()
{
    return {QColor(0x34, 0xc7, 0x59), QColor(0x1f, 0x7f, 0x37)};
}
inline Tone orange()
{
    return {QColor(0xff, 0x9f, 0x0a), QColor(0xb0, 0x55, 0x00)};
}
inline Tone warningBackground()
{
    return {QColor(0x3a, 0x2a, 0x08), QColor(0xff, 0xf0, 0xd4)};
}

QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
// A colour as a style sheet writes it.
QString rgb(const QColor& colour);

// Gives the widget's text this tone, in every look.
void setForeground(QWidget* widget, const Tone& tone);
// Fills a window with this tone, its text in the primary one, in every look.
void setBackground(QWidget* window, const Tone& tone);
// A label in the given size and tone; word-wrapped text when `wrap`.
QLabel* label(const QString& text, int pixelSize, const Tone& colour,
              QFont::Weight weight = QFont::Normal, bool wrap = false);
// A flat button as the lists use it: "Stop", "Forget", "Allow", "Decline".
QPushButton* plainButton(const QString& text, const Tone& colour = accent(),
                         const Tone& background = raised());
// A one-pixel line in the divider tone.
QFrame* dividerLine();
// The status dot, e.g. whether the computer is visible: a filled circle of
// one size wherever it is shown.
constexpr int dotDiameter = 8;
QLabel* dot(const Tone& colour);
void setDotColour(QLabel* dot, const Tone& colour);
// A menu dressed as the tray panel: its background, type and dividers.
void styleMenu(QMenu* menu);

// A plain area painted in one tone, with rounded corners; rows, cards and
// banners are made of these.
class Surface : public QWidget {
public:
    explicit Surface(const Tone& colour, int radius = 0, QWidget* parent = nullptr);
    void setColour(const Tone& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone m_colour;
    int m_radius;
};

} // namespace orvane::style

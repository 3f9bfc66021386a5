#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;

// The dark look of the main window and the pairing panel: one palette, type
// in pixel sizes, and the few kinds of control they share.
namespace orvane::style {

QColor grey(double whiteLevel);
inline QColor windowBackground()
{
    return Qt::black;
}
inline QColor cardBackground()
{
    return grey(0.085);
}
inline QColor raised()
{
    return grey(0.15);
}
inline QColor divider()
{
    return grey(0.2);
}
inline QColor faint()
{
    return grey(0.05);
}
inline QColor primaryText()
{
    return Qt::white;
}
inline QColor secondaryText()
{
    return grey(0.6);
}
inline QColor accent()
{
    return QColor::fromRgbF(0.93f, 0.11f, 0.2f);
}
inline QColor darkAccent()
{
    return QColor::fromRgbF(0.55f, 0.04f, 0.1f);
}
inline QColor green()
{
    return QColor(0x34, 0xc7, 0x59);
}
inline QColor orange()
{
    return QColor(0xff, 0x9f, 0x0a);
}

QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
QString rgb(const QColor& colour);

// A label in the given size and colour; word-wrapped text when `wrap`.
QLabel* label(const QString& text, int pixelSize, const QColor& colour,
              QFont::Weight weight = QFont::Normal, bool wrap = false);
// A flat button as the lists use it: "Stop", "Forget", "Allow", "Decline".
QPushButton* plainButton(const QString& text, const QColor& colour = accent());
// A one-pixel line in the divider colour.
QFrame* dividerLine();
// A filled circle of `diameter` pixels, e.g. the listening dot.
QLabel* dot(int diameter, const QColor& colour);
void setDotColour(QLabel* dot, const QColor& colour);

// A plain area painted in one colour, with rounded corners; rows, cards and
// banners are made of these.
class Surface : public QWidget {
public:
    explicit Surface(const QColor& colour, int radius = 0, QWidget* parent = nullptr);
    void setColour(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_colour;
    int m_radius;
};

} // namespace orvane::style

#pragma once

#include "style.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

class QLabel;

// Our own drawn symbols (src/ui/symbols/*.svg, one colour each, drawn in
// `currentColor`), rendered in the colour a place asks for.
namespace orvane {

// `name` is the file name without ".svg", e.g. "phone-waves". A null pixmap
// when there is no such symbol.
QPixmap symbol(const QString& name, int size, const QColor& colour, qreal pixelRatio = 1);

// A label showing a symbol in a tone, redrawn when the look changes,
// centred in a square `frame` pixels wide (at least the symbol's size).
QLabel* symbolLabel(const QString& name, int size, const style::Tone& colour, int frame = 0);

// What the tray icon shows, from the server's state: someone watches the
// screen, else a phone is connected, else nothing is.
enum class TrayState { idle, connected, sharing };
// The symbolic icon of the state, as installed under hicolor, e.g.
// "orvane-connected-symbolic".
QString traySymbolName(TrayState state);
// The tray's picture. Where the icon theme has the symbolic icon, the tray
// is given its name and tints it to suit its panel; the picture itself, for
// trays that take pictures only, is drawn light with a dark rim, which
// reads on light and on dark panels alike.
QIcon trayIcon(TrayState state);
QImage trayPicture(TrayState state, int size);

// The program's own icon, also installed under hicolor.
QIcon applicationIcon();

} // namespace orvane

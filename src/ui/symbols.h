#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QLabel;

// Our own drawn symbols (src/ui/symbols/*.svg, one colour each, drawn in
// `currentColor`), rendered in the colour a place asks for.
namespace orvane {

// `name` is the file name without ".svg", e.g. "phone-waves". A null pixmap
// when there is no such symbol.
QPixmap symbol(const QString& name, int size, const QColor& colour, qreal pixelRatio = 1);

// A label showing a symbol, centred in a square `frame` pixels wide
// (at least the symbol's size).
QLabel* symbolLabel(const QString& name, int size, const QColor& colour, int frame = 0);

// What the tray icon shows, from the server's state: someone watches the
// screen, else a phone is connected, else nothing is.
enum class TrayState { idle, connected, sharing };
QString traySymbolName(TrayState state);
QIcon trayIcon(TrayState state);

// The program's own icon, also installed under hicolor.
QIcon applicationIcon();

} // namespace orvane

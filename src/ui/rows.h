#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

// The pieces the main window's right column is made of.
namespace orvane::rows {

// A section title: 22-pixel bold.
QLabel* sectionTitle(const QString& text);
// One list row: the symbol in a 28-pixel frame, the content, and what
// stands at the trailing end; padded by 14 on the sides, at least 62 tall.
QWidget* listRow(const QString& symbolName, int symbolSize, QWidget* content,
                 QWidget* trailing = nullptr);
// Two lines, one over the other.
QWidget* stacked(QWidget* top, QWidget* bottom, int spacing = 2);
// "Granted" with its check mark, in green.
QWidget* grantedLabel();

} // namespace orvane::rows

#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

#include <functional>

class QWidget;

namespace orvane {

// One line of text that never asks for more width than it is given: when it
// is too long its middle gives way to "…" where it is drawn, and the whole
// text (text()) is its tooltip. Names from phones are shown in these.
class ElidedLabel : public QLabel {
public:
    ElidedLabel(const QString& text, int pixelSize, const QColor& colour,
                QFont::Weight weight = QFont::Normal);
    void setFullText(const QString& text);
    // What it shows at its width now.
    QString shownText() const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace orvane

// The pieces the main window's right column is made of.
namespace orvane::rows {

// A section title: 22-pixel bold.
QLabel* sectionTitle(const QString& text);
// One list row: the symbol in a 28-pixel frame, the content, and what
// stands at the trailing end; padded by 14 on the sides, at least 62 tall.
QWidget* listRow(const QString& symbolName, int symbolSize, QWidget* content,
                 QWidget* trailing = nullptr);
// Lines one over the other.
QWidget* stacked(std::initializer_list<QWidget*> lines, int spacing = 2);
inline QWidget* stacked(QWidget* top, QWidget* bottom, int spacing = 2)
{
    return stacked({top, bottom}, spacing);
}
// `text` with a line-break chance in every run of more than 20 characters
// without a space, so a word-wrapped label never grows wider than its place
// for a long word a phone sent.
QString breakable(const QString& text);
// "Granted" with its check mark, in green.
QWidget* grantedLabel();

// Asks whether to forget the phone `name`; `forget` runs only when the
// answer is yes. The question ("confirmForget") is a window of its own over
// `parent`'s window, or free when `parent` is null; it does not block.
void askToForget(QWidget* parent, const QString& name, std::function<void()> forget);

} // namespace orvane::rows

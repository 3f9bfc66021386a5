#include "rows.h"

#include "style.h"
#include "symbols.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace orvane {

ElidedLabel::ElidedLabel(const QString& text, int pixelSize, const QColor& colour,
                         QFont::Weight weight)
{
    setFont(style::font(pixelSize, weight));
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, colour);
    setPalette(palette);
    // Names come from phones: never let one be read as markup.
    setTextFormat(Qt::PlainText);
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text)
{
    setText(text);
    setToolTip(text);
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QStringLiteral("W…W")),
            QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(),
                          shownText(), foregroundRole());
}

} // namespace orvane

namespace orvane::rows {

QLabel* sectionTitle(const QString& text)
{
    return style::label(text, 22, style::primaryText(), QFont::Bold);
}

QWidget* listRow(const QString& symbolName, int symbolSize, QWidget* content, QWidget* trailing)
{
    auto* row = new style::Surface(style::cardBackground(), 10);
    row->setMinimumHeight(62);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->setSpacing(12);
    layout->addWidget(symbolLabel(symbolName, symbolSize, style::primaryText(), 28));
    layout->addWidget(content, 1);
    if (trailing)
        layout->addWidget(trailing);
    return row;
}

QWidget* stacked(std::initializer_list<QWidget*> lines, int spacing)
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* line : lines)
        layout->addWidget(line);
    return box;
}

QString breakable(const QString& text)
{
    constexpr int longest = 20;
    QString result;
    result.reserve(text.size() + text.size() / longest);
    int run = 0;
    for (QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > longest && !c.isLowSurrogate()) {
            result += QChar(0x200B); // zero-width space
            run = 1;
        }
        result += c;
    }
    return result;
}

QWidget* grantedLabel()
{
    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("granted"));
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(symbolLabel(QStringLiteral("check-circle"), 16, style::green()));
    layout->addWidget(
        style::label(QCoreApplication::translate("orvane", "Granted"), 14, style::green()));
    return box;
}

void askToForget(QWidget* parent, const QString& name, std::function<void()> forget)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("orvane", text); };
    auto* box = new QMessageBox(parent ? parent->window() : nullptr);
    box->setObjectName(QStringLiteral("confirmForget"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Question);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(tr("Forget Phone"));
    QString shown = box->fontMetrics().elidedText(name, Qt::ElideMiddle, 320);
    box->setText(tr("Forget “%1”?").arg(shown));
    box->setInformativeText(
        tr("The phone is disconnected, and has to pair again with a new code to connect."));
    QPushButton* yes = box->addButton(tr("Forget"), QMessageBox::DestructiveRole);
    yes->setObjectName(QStringLiteral("confirmForgetYes"));
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [yes, forget](QAbstractButton* button) {
        if (button == yes && forget)
            forget();
    });
    box->open();
}

} // namespace orvane::rows

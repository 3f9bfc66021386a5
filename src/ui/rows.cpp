#include "rows.h"

#include "style.h"
#include "symbols.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

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

QWidget* stacked(QWidget* top, QWidget* bottom, int spacing)
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->addWidget(top);
    layout->addWidget(bottom);
    return box;
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

} // namespace orvane::rows

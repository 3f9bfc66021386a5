#include "code_cells.h"

#include "style.h"

#include <QPainter>

namespace orvane {

CodeCells::CodeCells(Metrics metrics, QWidget* parent) : QWidget(parent), m_metrics(metrics)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CodeCells::setCode(const QString& code)
{
    m_code = code;
    setAccessibleName(code);
    updateGeometry();
    update();
}

QSize CodeCells::sizeHint() const
{
    auto n = static_cast<int>(m_code.size());
    int width = n * m_metrics.cellWidth + std::max(0, n - 1) * m_metrics.spacing;
    return {width, m_metrics.cellHeight};
}

void CodeCells::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont digits = style::font(m_metrics.fontPixels, QFont::Bold);
    painter.setFont(digits);
    for (qsizetype i = 0; i < m_code.size(); ++i) {
        QRect cell(int(i) * (m_metrics.cellWidth + m_metrics.spacing), 0, m_metrics.cellWidth,
                   m_metrics.cellHeight);
        painter.setPen(Qt::NoPen);
        painter.setBrush(style::raised());
        painter.drawRoundedRect(cell, m_metrics.radius, m_metrics.radius);
        painter.setPen(style::primaryText());
        painter.drawText(cell, Qt::AlignCenter, m_code.mid(i, 1));
    }
}

} // namespace orvane

#pragma once

#include <QWidget>

namespace orvane {

// The pairing code, one rounded cell per digit, as the pairing panel and
// the window's pairing row show it.
class CodeCells : public QWidget {
public:
    struct Metrics {
        int cellWidth;
        int cellHeight;
        int radius;
        int fontPixels;
        int spacing;
    };
    static constexpr Metrics large{40, 54, 10, 34, 8};
    static constexpr Metrics small{22, 30, 6, 17, 4};

    explicit CodeCells(Metrics metrics, QWidget* parent = nullptr);
    void setCode(const QString& code);
    const QString& code() const { return m_code; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Metrics m_metrics;
    QString m_code;
};

} // namespace orvane

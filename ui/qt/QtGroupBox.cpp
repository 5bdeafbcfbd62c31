#include "QtGroupBox.h"

#include <QPainter>

CQtGroupBox::CQtGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

void CQtGroupBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int top = metrics.height() / 2;
    const QRect frame(0, top, width() - 2, height() - top - 2);

    // Etched: a shadow line with a highlight line one pixel right and below it.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1));

    const QString text = title();
    if (!text.isEmpty()) {
        const int indent = metrics.averageCharWidth() + 3;
        const QRect textArea(indent, 0, metrics.horizontalAdvance(text) + 4, metrics.height());
        painter.fillRect(textArea, palette().window());
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        painter.drawText(textArea, Qt::AlignCenter | Qt::TextShowMnemonic, text);
    }
}

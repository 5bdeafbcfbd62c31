#include "QtCheckBox.h"

#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

CQtCheckBox::CQtCheckBox(const QString& text, bool textOnLeft, bool automatic, QWidget* parent)
    : QCheckBox(text, parent), m_textOnLeft(textOnLeft), m_automatic(automatic) {}

void CQtCheckBox::paintEvent(QPaintEvent* event) {
    if (!m_textOnLeft) {
        QCheckBox::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);

    const int boxWidth = style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, this);
    const int boxHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, this);
    const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);

    QStyleOptionButton box = option;
    box.rect = QRect(width() - boxWidth, (height() - boxHeight) / 2, boxWidth, boxHeight);
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, box);

    const QRect textArea(0, 0, qMax(0, width() - boxWidth - spacing), height());
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic;
    painter.drawItemText(textArea, flags, option.palette, isEnabled(), text(), QPalette::WindowText);

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect =
            style()->itemTextRect(option.fontMetrics, textArea, flags, isEnabled(), text()).adjusted(-1, 0, 1, 0);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool CQtCheckBox::hitButton(const QPoint& pos) const {
    // The whole rectangle is the control, text included, wherever the box is drawn.
    return rect().contains(pos);
}

void CQtCheckBox::nextCheckState() {
    if (m_automatic) {
        QCheckBox::nextCheckState();
    }
}

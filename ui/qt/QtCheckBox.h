#pragma once

#include <QCheckBox>

// A check box that can draw its text on the left with the box at the right edge of its rectangle. Qt's
// right-to-left direction would also right-align the text against the box, which is a different picture.
class CQtCheckBox : public QCheckBox {
    Q_OBJECT

public:
    CQtCheckBox(const QString& text, bool textOnLeft, QWidget* parent = nullptr);

    bool TextOnLeft() const { return m_textOnLeft; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    bool m_textOnLeft;
};

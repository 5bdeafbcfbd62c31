#pragma once

#include <QCheckBox>

// A check box that can draw its text on the left with the box at the right edge of its rectangle. Qt's
// right-to-left direction would also right-align the text against the box, which is a different picture.
class CQtCheckBox : public QCheckBox {
    Q_OBJECT

public:
    // An automatic check box toggles its own mark when clicked; any other only reports the click.
    CQtCheckBox(const QString& text, bool textOnLeft, bool automatic, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
    void nextCheckState() override;

private:
    bool m_textOnLeft;
    bool m_automatic;
};

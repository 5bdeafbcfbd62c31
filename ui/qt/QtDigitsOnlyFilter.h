#pragma once

#include <QObject>

// Lets only digits be typed into an edit. Pasted text and text set by the program pass unchanged, which is why
// this is a key filter and not a validator (a validator would refuse those as well).
class CQtDigitsOnlyFilter : public QObject {
    Q_OBJECT

public:
    explicit CQtDigitsOnlyFilter(QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

#pragma once

#include <QGroupBox>

// A group box drawn as an etched frame whose top line carries the title, so that the frame sits exactly on the
// template's rectangle whatever style the application uses. It stays a QGroupBox for screen readers.
class CQtGroupBox : public QGroupBox {
    Q_OBJECT

public:
    explicit CQtGroupBox(const QString& title, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

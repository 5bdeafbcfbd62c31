#pragma once

#include <vector>

#include <QObject>
#include <QPointer>

class QWidget;

// Keeps the windows that a run waits on (a modal dialog, a message box) within the user's reach. Window managers may
// offer a minimise button on dialogs whatever the window asks for; a minimised modal dialog would leave only its
// disabled owner on the screen, with no visible way to go on. So whenever another window of the program is
// activated or shown again while the window being waited on is minimised, that window comes back, raised and active.
class CQtModalKeeper : public QObject {
public:
    CQtModalKeeper();
    ~CQtModalKeeper() override;
    CQtModalKeeper(const CQtModalKeeper&) = delete;
    CQtModalKeeper& operator=(const CQtModalKeeper&) = delete;

    // `window` is waited on until the matching Release (runs nest: the last one kept is the one brought back).
    void Keep(QWidget* window);
    void Release(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<QPointer<QWidget>> m_waiting;
    bool m_restoring = false;
};

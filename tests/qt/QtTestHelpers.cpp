#include "QtTestHelpers.h"

#include <memory>

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include "QtDialogWindow.h"

CQtDialogWindow* FindShownWindow(int templateId) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<CQtDialogWindow*>(widget);
        if (window != nullptr && window->isVisible() && window->Template().id == templateId) {
            return window;
        }
    }
    return nullptr;
}

void WhenShown(std::function<bool(QWidget*)> match, std::function<void(QWidget*)> action, bool* done) {
    auto* timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, match, action, done] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && match(widget)) {
                timer->stop();
                timer->deleteLater();
                action(widget);
                if (done != nullptr) {
                    *done = true;
                }
                return;
            }
        }
        if (++*tries > 500) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected window never showed";
            // Unblock whatever waits: end every visible dialog window as Cancel would.
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* window = qobject_cast<CQtDialogWindow*>(widget); window != nullptr && window->isVisible()) {
                    window->End(2);
                }
            }
        }
    });
    timer->start();
}

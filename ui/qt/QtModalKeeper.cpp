#include "QtModalKeeper.h"

#include <algorithm>

#include <QApplication>
#include <QEvent>
#include <QWidget>

CQtModalKeeper::CQtModalKeeper() {
    // Activation reaches the window that gets it, which is the owner or another window, never the one waited on:
    // only an application-wide filter sees them all.
    QApplication::instance()->installEventFilter(this);
}

CQtModalKeeper::~CQtModalKeeper() {
    if (QCoreApplication* app = QApplication::instance()) {
        app->removeEventFilter(this);
    }
}

void CQtModalKeeper::Keep(QWidget* window) {
    m_waiting.emplace_back(window);
}

void CQtModalKeeper::Release(QWidget* window) {
    const auto it = std::find(m_waiting.rbegin(), m_waiting.rend(), window);
    if (it != m_waiting.rend()) {
        m_waiting.erase(std::next(it).base());
    }
}

bool CQtModalKeeper::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (m_waiting.empty() || m_restoring ||
        (type != QEvent::WindowActivate && type != QEvent::WindowStateChange && type != QEvent::Show)) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    QWidget* waited = m_waiting.back();
    if (widget == nullptr || !widget->isWindow() || waited == nullptr || widget == waited || widget->isMinimized() ||
        !waited->isMinimized()) {
        return false;
    }
    m_restoring = true;
    waited->setWindowState((waited->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    waited->show();
    waited->raise();
    waited->activateWindow();
    m_restoring = false;
    return false;
}

#include "QtDigitsOnlyFilter.h"

#include <QInputMethodEvent>
#include <QKeyEvent>

namespace {

bool IsAsciiDigits(const QString& text) {
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    return true;
}

// A key press that would insert text: printable characters, typed without Ctrl (Ctrl+V and friends are commands).
bool InsertsText(const QKeyEvent& key) {
    if (key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) {
        return false;
    }
    const QString text = key.text();
    return !text.isEmpty() && text.at(0).isPrint();
}

} // namespace

CQtDigitsOnlyFilter::CQtDigitsOnlyFilter(QObject* parent) : QObject(parent) {}

bool CQtDigitsOnlyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (InsertsText(*key) && !IsAsciiDigits(key->text())) {
            return true; // dropped, as if the key had not been pressed
        }
    } else if (event->type() == QEvent::InputMethod) {
        const auto* input = static_cast<QInputMethodEvent*>(event);
        if (!input->commitString().isEmpty() && !IsAsciiDigits(input->commitString())) {
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

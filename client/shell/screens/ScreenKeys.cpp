#include "ScreenKeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>

namespace ScreenKeys {

namespace {

bool usable(const QAbstractButton *button) {
    return button && button->isEnabled() && button->isVisibleTo(button->window());
}

} // namespace

bool pressOnEnter(QWidget *screen, QKeyEvent *event, QWidget *fallback) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    auto *focused = qobject_cast<QAbstractButton *>(QApplication::focusWidget());
    if (usable(focused) && screen->isAncestorOf(focused)) {
        focused->click();
        return true;
    }
    auto *button = qobject_cast<QAbstractButton *>(fallback);
    if (!usable(button))
        return false;
    button->click();
    return true;
}

bool isEscape(const QKeyEvent *event) {
    return event->key() == Qt::Key_Escape;
}

} // namespace ScreenKeys

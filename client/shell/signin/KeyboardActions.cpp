#include "KeyboardActions.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QShortcut>
#include <QWidget>

void bindEnterAndEscape(QWidget *screen, QAbstractButton *defaultButton,
                        std::function<void()> escape) {
    const auto press = [screen, defaultButton] {
        QWidget *focus = QApplication::focusWidget();
        auto *focused = qobject_cast<QPushButton *>(focus);
        QAbstractButton *target =
            focused && screen->isAncestorOf(focused) ? focused : defaultButton;
        if (target && target->isEnabled() && target->isVisible())
            target->click();
    };
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(QKeySequence(key), screen);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(shortcut, &QShortcut::activated, screen, press);
    }
    if (escape) {
        auto *shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), screen);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(shortcut, &QShortcut::activated, screen, std::move(escape));
    }
}

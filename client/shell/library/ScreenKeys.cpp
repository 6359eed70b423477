#include "ScreenKeys.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>

void installScreenKeys(QWidget *screen, QAbstractButton *defaultButton,
                       std::function<void()> escape) {
    const QPointer<QAbstractButton> fallback(defaultButton);
    auto enter = [screen, fallback] {
        QWidget *focus = QApplication::focusWidget();
        auto *focused = qobject_cast<QPushButton *>(focus);
        QAbstractButton *target =
            focused && screen->isAncestorOf(focused) ? focused : fallback.data();
        if (target && target->isEnabled() && target->isVisible())
            target->click();
    };
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(QKeySequence(key), screen);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(shortcut, &QShortcut::activated, screen, enter);
    }
    auto *cancel = new QShortcut(QKeySequence(Qt::Key_Escape), screen);
    cancel->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(cancel, &QShortcut::activated, screen, std::move(escape));
}

#include "ScreenKeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QWidget>

namespace ScreenKeys {

namespace {

bool usable(const QAbstractButton *button) {
    return button && button->isEnabled() && button->isVisibleTo(button->window());
}

// Shortcuts rather than key handlers: a focused child (a field, a button)
// cannot swallow the key before the screen sees it.
QShortcut *screenShortcut(QWidget *screen, int key) {
    auto *shortcut = new QShortcut(QKeySequence(key), screen);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    return shortcut;
}

} // namespace

void install(QWidget *screen, std::function<QAbstractButton *()> defaultButton,
             std::function<void()> escape) {
    const auto press = [screen, defaultButton = std::move(defaultButton)] {
        auto *focused = qobject_cast<QPushButton *>(QApplication::focusWidget());
        QAbstractButton *target = focused && screen->isAncestorOf(focused) ? focused : nullptr;
        if (!usable(target) && defaultButton)
            target = defaultButton();
        if (usable(target))
            target->click();
    };
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)})
        QObject::connect(screenShortcut(screen, key), &QShortcut::activated, screen, press);
    if (escape)
        QObject::connect(screenShortcut(screen, Qt::Key_Escape), &QShortcut::activated, screen,
                         std::move(escape));
}

void install(QWidget *screen, QAbstractButton *defaultButton, std::function<void()> escape) {
    const QPointer<QAbstractButton> button(defaultButton);
    install(
        screen, [button]() -> QAbstractButton * { return button.data(); }, std::move(escape));
}

} // namespace ScreenKeys

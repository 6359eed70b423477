#include "CopyPasteTextfield.h"

#include <QKeyEvent>

CopyPasteTextfield::CopyPasteTextfield(QWidget *parent)
    : QLineEdit(parent) {}

bool CopyPasteTextfield::performKeyEquivalent(QKeyEvent *event, bool perform) {
    // Exactly Ctrl: Ctrl+Shift+V and the like are someone else's business.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers != Qt::ControlModifier)
        return false;
    const int key = event->key();
    if (key != Qt::Key_X && key != Qt::Key_C && key != Qt::Key_V && key != Qt::Key_A)
        return false;
    if (!perform)
        return true;
    if (key == Qt::Key_X)
        cut();
    else if (key == Qt::Key_C)
        copy();
    else if (key == Qt::Key_V)
        paste();
    else
        selectAll();
    return true;
}

bool CopyPasteTextfield::event(QEvent *event) {
    // Keep the four keys from window shortcuts that would take them first.
    if (event->type() == QEvent::ShortcutOverride &&
        performKeyEquivalent(static_cast<QKeyEvent *>(event), false)) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void CopyPasteTextfield::keyPressEvent(QKeyEvent *event) {
    if (performKeyEquivalent(event, true)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

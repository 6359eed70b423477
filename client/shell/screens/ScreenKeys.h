#pragma once

class QKeyEvent;
class QWidget;

// Keyboard use shared by the screens: Enter presses the focused button (or
// the screen's main one), Escape takes the screen's way out.
namespace ScreenKeys {

// Answers whether the key was Enter or Return and a button was pressed:
// the focused button inside `screen`, else `fallback` when it is usable.
bool pressOnEnter(QWidget *screen, QKeyEvent *event, QWidget *fallback);
bool isEscape(const QKeyEvent *event);

} // namespace ScreenKeys

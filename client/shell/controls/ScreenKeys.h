#pragma once

#include <functional>

class QAbstractButton;
class QWidget;

// Keyboard use shared by every screen, working anywhere inside `screen`:
// Enter (Return or the keypad's Enter) presses the focused push button, or
// else the screen's default button when it is enabled and shown (so Enter
// in a text field or on a check box or radio button submits the screen);
// Escape runs `escape`, the screen's way back, when it has one.
namespace ScreenKeys {

// `defaultButton` is asked at each key press (screens whose main button
// changes with their state); it may answer nullptr.
void install(QWidget *screen, std::function<QAbstractButton *()> defaultButton,
             std::function<void()> escape = {});
// A fixed default button (nullptr: Enter only presses a focused button).
void install(QWidget *screen, QAbstractButton *defaultButton, std::function<void()> escape = {});

} // namespace ScreenKeys

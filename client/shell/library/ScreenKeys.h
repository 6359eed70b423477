#pragma once

#include <functional>

class QAbstractButton;
class QWidget;

// Keyboard use of a screen: Enter presses the focused push button, or
// `defaultButton` when focus is elsewhere (a disabled one ignores it); Escape
// runs `escape`. Both work anywhere inside `screen`.
void installScreenKeys(QWidget *screen, QAbstractButton *defaultButton,
                       std::function<void()> escape);

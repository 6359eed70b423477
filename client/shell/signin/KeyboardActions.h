#pragma once

#include <functional>

class QAbstractButton;
class QWidget;

// Enter and Escape on a screen: Enter presses the focused push button, or
// `defaultButton` from anywhere else on the screen (fields, check boxes);
// Escape runs `escape` (when given).
void bindEnterAndEscape(QWidget *screen, QAbstractButton *defaultButton,
                        std::function<void()> escape = {});

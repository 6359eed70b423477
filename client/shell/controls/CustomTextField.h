#pragma once

#include <QLabel>

// A borderless text on the white screens: Raleway 14, no frame, no
// background of its own.
class CustomTextField : public QLabel {
    Q_OBJECT
public:
    explicit CustomTextField(QWidget *parent = nullptr);
    explicit CustomTextField(const QString &text, QWidget *parent = nullptr);
};

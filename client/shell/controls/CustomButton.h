#pragma once

#include <QPushButton>

// The flat push button of the screens: white face inside two thin outlines,
// square corners, the title in "Raleway-Medium" 12 centred and wrapped at
// words; while pressed the face is black and the title white.
class CustomButton : public QPushButton {
    Q_OBJECT
public:
    explicit CustomButton(QWidget *parent = nullptr);
    explicit CustomButton(const QString &text, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

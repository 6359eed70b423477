#pragma once

#include "CustomView.h"
#include "ui_SignUp.h"

class SignUp : public CustomView {
    Q_OBJECT
public:
    explicit SignUp(QWidget *parent = nullptr);

private:
    Ui::SignUp ui;
};

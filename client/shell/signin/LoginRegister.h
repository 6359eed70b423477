#pragma once

#include "CustomView.h"
#include "ui_LoginRegister.h"

class LoginRegister : public CustomView {
    Q_OBJECT
public:
    explicit LoginRegister(QWidget *parent = nullptr);

private:
    Ui::LoginRegister ui;
};

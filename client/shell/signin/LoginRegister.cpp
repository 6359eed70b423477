#include "LoginRegister.h"

LoginRegister::LoginRegister(QWidget *parent)
    : CustomView(parent) {
    setViewName(QStringLiteral("LoginRegister"));
    ui.setupUi(this);
}

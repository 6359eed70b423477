#include "SignUp.h"

SignUp::SignUp(QWidget *parent)
    : CustomView(parent) {
    setViewName(QStringLiteral("SignUp"));
    ui.setupUi(this);
}

#include "LandingPage.h"

LandingPage::LandingPage(QWidget *parent)
    : CustomView(parent) {
    setViewName(QStringLiteral("LandingPage"));
    ui.setupUi(this);
}

#pragma once

#include "CustomView.h"
#include "ui_LandingPage.h"

class LandingPage : public CustomView {
    Q_OBJECT
public:
    explicit LandingPage(QWidget *parent = nullptr);

private:
    Ui::LandingPage ui;
};

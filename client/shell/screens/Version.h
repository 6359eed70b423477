#pragma once

#include "CustomView.h"
#include "ui_Version.h"

// The about screen, an overlay over the current screen.
class Version : public CustomView {
    Q_OBJECT
public:
    explicit Version(QWidget *parent = nullptr);

public slots:
    void doneButtonPressed();

private:
    Ui::Version ui;
};

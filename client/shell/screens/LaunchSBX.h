#pragma once

#include "CustomView.h"
#include "ui_LaunchSBX.h"

// The last screen of a new user's first run: it offers to open the web
// application, where the synced music plays.
class LaunchSBX : public CustomView {
    Q_OBJECT
public:
    explicit LaunchSBX(QWidget *parent = nullptr);

public slots:
    void launchSBXAction();

private:
    Ui::LaunchSBX ui;
};

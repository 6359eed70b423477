#include "LaunchSBX.h"

#include "ScreenKeys.h"
#include "engine/Sonarbox.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"

LaunchSBX::LaunchSBX(QWidget *parent)
    : CustomView(parent) {
    ui.setupUi(this);
    GAUtility::instance().GATrackView(QStringLiteral("launchSBXView"));
    Sonarbox::instance().flow_newUser = false;
    ui.instructionLabel->setText(
        Localization::localizedString(QStringLiteral("ToolBarInfoViewModel_DisplayName")));
    ui.launchSBXBtn->setText(QStringLiteral("Launch Sonarbox"));
    connect(ui.launchSBXBtn, &QPushButton::clicked, this, &LaunchSBX::launchSBXAction);
    ScreenKeys::install(this, ui.launchSBXBtn, [this] { window()->close(); });
}

void LaunchSBX::launchSBXAction() {
    qCInfo(lcShell) << "[launchSBXAction:] @class:LaunchSBX";
    Sonarbox::instance().launchSBX();
    window()->close();
}

#include "Version.h"

#include "ScreenKeys.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/NotificationCenter.h"

Version::Version(QWidget *parent)
    : CustomView(parent) {
    ui.setupUi(this);
    GAUtility::instance().GATrackView(QStringLiteral("aboutView"));
    ui.applicationNameAndVersion->setText(QStringLiteral("%1 v.%2").arg(
        QStringLiteral("Desktop Cient"), DeploymentConfig::current().bundleShortVersionString));
    ui.gracenoteLogoLabel->setText(Localization::localizedString(QStringLiteral("GraceNoteLogo")));
    // copyrightInformation keeps the notice of the form.
    connect(ui.doneButton, &QPushButton::clicked, this, &Version::doneButtonPressed);
    ScreenKeys::install(this, ui.doneButton, [this] { doneButtonPressed(); });
}

void Version::doneButtonPressed() {
    qCInfo(lcShell) << "[doneButtonPressed:] @class:Version";
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("closeAboutViewNotification"), this);
}

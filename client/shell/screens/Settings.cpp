#include "Settings.h"

#include "ScreenKeys.h"
#include "engine/Sonarbox.h"
#include "library/FolderDialogs.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"
#include "settings/PreferenceKeys.h"
#include "sync/ScanForLocalMedia.h"
#include "sync/TransferLimits.h"

#include <QDir>
#include <QPointer>

#include <utility>

namespace {

void logAction(const char *selector) {
    qCInfo(lcShell).noquote()
        << QStringLiteral("[%1] @class:Settings").arg(QLatin1String(selector));
}

QString libraryName(LibraryChoice choice) {
    switch (choice) {
    case LibraryChoice::MusicPlayer:
        // The music player's library stands in for the original one here;
        // the picker names it the same way.
        return QStringLiteral("Music player library (MPD)");
    case LibraryChoice::MusicFolder:
        return QStringLiteral("Music Folder");
    case LibraryChoice::ChosenFolders:
        break;
    }
    return QStringLiteral("Other Folder");
}

// The folders the collection is read from, by path: the music player's
// folder, the Music folder, or the chosen ones.
QStringList collectionFolders(LibraryChoice choice) {
    QStringList paths = choice == LibraryChoice::MusicPlayer
                            ? QStringList{DeploymentConfig::current().mpdMusicFolderPath()}
                            : ScanForLocalMedia::foldersToWalk(Sonarbox::instance());
    paths.removeAll(QString());
    for (QString &path : paths)
        path = QDir::toNativeSeparators(QDir::cleanPath(path));
    return paths;
}

} // namespace

Settings::Settings(QWidget *parent)
    : CustomView(parent) {
    ui.setupUi(this);
    // Shown only where desktop notifications can be presented (below).
    ui.showNotificationsCheckbox->hide();
    ui.showNotificationTxtLabel->hide();

    connect(ui.syncNewSongsCheckbox, &QCheckBox::clicked, this, &Settings::automaticallySyncToggle);
    connect(ui.openAtLoginCheckbox, &QCheckBox::clicked, this, &Settings::openAtLoginToggle);
    connect(ui.showNotificationsCheckbox, &QCheckBox::clicked, this,
            &Settings::showNotificationsToggle);
    connect(ui.shareUsageCheckbox, &QCheckBox::clicked, this, &Settings::shareUsageToggle);
    connect(ui.syncOnMeteredCheckbox, &QCheckBox::clicked, this, &Settings::syncOnMeteredToggle);
    connect(ui.pauseSyncBtn, &QPushButton::clicked, this, &Settings::pauseSyncToggle);
    connect(ui.changeLibraryBtn, &QPushButton::clicked, this, &Settings::changeCollectionLocation);
    connect(ui.changeDownloadFolderBtn, &QPushButton::clicked, this,
            &Settings::changeDownloadFolder);
    connect(ui.logOutBtn, &QPushButton::clicked, this, &Settings::logOut);
    connect(ui.closeBtn, &QPushButton::clicked, this, &Settings::closeSettingsScreen);
    ScreenKeys::install(this, ui.closeBtn, [this] { closeSettingsScreen(); });

    GAUtility::instance().GATrackView(QStringLiteral("settingsView"));
    Sonarbox &sonarbox = Sonarbox::instance();
    const UserPtr user = sonarbox.loggedUser();

    // Counting walks the store: the figures follow once they are known.
    if (user && sonarbox.didUserPickLibrary()) {
        connect(&m_counting, &QFutureWatcher<TrackCounts>::finished, this,
                [this] { showCounts(m_counting.result()); });
        m_counting.setFuture(TrackCounts::countInBackground());
    }

    m_localPickedLibrary = libraryName(sonarbox.userPickedMediaLibrary());
    ui.serviceAddressLabel->setText(
        QStringLiteral("Service: %1").arg(DeploymentConfig::current().gatewayBaseUrl));

    if (user) {
        ui.collectionLocationLabel->setText(
            QStringLiteral("Location of my collection: %1").arg(m_localPickedLibrary));
        const QStringList folders = collectionFolders(sonarbox.userPickedMediaLibrary());
        ui.collectionFoldersLabel->setText(folders.join(QLatin1Char('\n')));
        ui.collectionFoldersLabel->setToolTip(ui.collectionFoldersLabel->text());
        ui.collectionFoldersLabel->setVisible(!folders.isEmpty());
        showDownloadFolder();
        ui.loggedInAsLabel->setText(
            QStringLiteral("Logged in as: %1").arg(user->username.value_or(QString())));
        ui.collectionLocationLabel->show();
        ui.loggedInAsLabel->show();
        ui.logOutBtn->show();
        ui.changeLibraryBtn->setVisible(!sonarbox.syncInProgress);
    } else {
        ui.collectionLocationLabel->hide();
        ui.collectionFoldersLabel->hide();
        ui.downloadFolderLabel->hide();
        ui.changeDownloadFolderBtn->hide();
        ui.loggedInAsLabel->hide();
        ui.logOutBtn->hide();
        ui.changeLibraryBtn->hide();
    }

    ui.openAtLoginCheckbox->setChecked(sonarbox.settings_openAtLogin);
    if (sonarbox.minOSVersion() >= 9) {
        ui.showNotificationsCheckbox->show();
        ui.showNotificationTxtLabel->show();
        ui.showNotificationsCheckbox->setChecked(sonarbox.settings_showNotifications);
    }
    ui.syncNewSongsCheckbox->setChecked(sonarbox.settings_syncNewSongs);
    ui.shareUsageCheckbox->setChecked(GAUtility::userSharesUsageStatistics());
    const TransferLimits limits = TransferLimits::inForce();
    for (auto [box, value] : {std::pair{ui.uploadLimitSpinBox, limits.uploadKiBps},
                              std::pair{ui.downloadLimitSpinBox, limits.downloadKiBps}}) {
        box->setMaximum(TransferLimits::MaximumKiBps);
        box->setValue(value);
        connect(box, &QSpinBox::valueChanged, this, &Settings::transferLimitsChanged);
    }
    ui.syncOnMeteredCheckbox->setChecked(sonarbox.syncPause().syncOnMeteredConnections());
    showPauseState();
}

void Settings::showPauseState() {
    ui.pauseSyncBtn->setText(Sonarbox::instance().syncPause().pausedByUser()
                                 ? QStringLiteral("Resume syncing")
                                 : QStringLiteral("Pause syncing"));
}

void Settings::showDownloadFolder() {
    const QString folder =
        QDir::toNativeSeparators(QDir::cleanPath(Sonarbox::instance().userDownloadDirectory()));
    ui.downloadFolderLabel->setText(QStringLiteral("Download folder: %1").arg(folder));
    ui.downloadFolderLabel->setToolTip(folder);
}

void Settings::showCounts(const TrackCounts &counts) {
    ui.statusLabel->setText(
        QStringLiteral("%1 / %2 Tracks Synced").arg(counts.synced).arg(counts.all));
    m_countsShown = true;
    emit countsArrived();
}

void Settings::automaticallySyncToggle(bool on) {
    logAction("automaticallySyncToggle:");
    Sonarbox::instance().settings_syncNewSongs = on;
}

void Settings::openAtLoginToggle(bool on) {
    logAction("openAtLoginToggle:");
    if (on)
        Sonarbox::instance().addAppAsLoginItem();
    else
        Sonarbox::instance().deleteAppFromLoginItem();
}

void Settings::showNotificationsToggle(bool on) {
    logAction("showNotificationsToggle:");
    Sonarbox::instance().settings_showNotifications = on;
    NSDefaultsUtility::standard().setBoolean(PreferenceKeys::SettingsNotifications, on);
    NSDefaultsUtility::standard().synchronize();
}

void Settings::shareUsageToggle(bool on) {
    logAction("shareUsageToggle:");
    // Read at every event: the next one already follows the choice.
    NSDefaultsUtility::standard().setBoolean(PreferenceKeys::ShareUsageStatistics, on);
    NSDefaultsUtility::standard().synchronize();
}

void Settings::syncOnMeteredToggle(bool on) {
    logAction("syncOnMeteredToggle:");
    Sonarbox::instance().syncPause().setSyncOnMeteredConnections(on);
}

void Settings::pauseSyncToggle() {
    logAction("pauseSyncToggle:");
    SyncPause &pause = Sonarbox::instance().syncPause();
    pause.setPausedByUser(!pause.pausedByUser());
    showPauseState();
}

void Settings::transferLimitsChanged() {
    logAction("transferLimitsChanged:");
    TransferLimits::save({ui.uploadLimitSpinBox->value(), ui.downloadLimitSpinBox->value()});
}

void Settings::changeCollectionLocation() {
    logAction("changeCollectionLocation:");
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("showMediaPickerViewNotification"), this);
}

void Settings::changeDownloadFolder() {
    logAction("changeDownloadFolder:");
    FolderDialogs::installDownloadFolderChooser(this);
    const QPointer<Settings> self(this);
    Sonarbox::instance().changeDefaultDownloadDir([self](const QString &) {
        if (self)
            self->showDownloadFolder();
    });
}

void Settings::logOut() {
    logAction("logOut:");
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.statusMenu().statusMenuCloseSettingsPage();
    // Ends in "logOutNotification": the window replaces this view.
    sonarbox.logOut();
}

void Settings::closeSettingsScreen() {
    logAction("closeSettingsScreen:");
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("closeSettingsViewNotification"), this);
}

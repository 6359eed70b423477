#include "ProcessPage.h"

#include "LastSyncSummary.h"

#include "ScreenKeys.h"
#include "engine/Sonarbox.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/NotificationCenter.h"

#include <QMessageBox>

namespace {

void logAction(const char *selector) {
    qCInfo(lcShell).noquote()
        << QStringLiteral("[%1] @class:ProcessPage").arg(QLatin1String(selector));
}

} // namespace

ProcessPage::ProcessPage(QWidget *parent)
    : CustomView(parent) {
    ui.setupUi(this);
    logAction("awakeFromNib");
    GAUtility::instance().GATrackView(QStringLiteral("syncView"));

    ui.gracenotLogo->setText(Localization::localizedString(QStringLiteral("GraceNoteLogo")));
    ui.youDontNeedToWait->setText(
        QStringLiteral("You can continue while the import is in progress."));
    ui.doneBtn->setText(QStringLiteral("Done"));
    ui.launchSbxBtn->setText(QStringLiteral("Continue"));

    connect(ui.processVewSyncButton, &QPushButton::clicked, this, &ProcessPage::toggleSync);
    connect(ui.doneBtn, &QPushButton::clicked, this, &ProcessPage::doneAction);
    connect(ui.launchSbxBtn, &QPushButton::clicked, this, &ProcessPage::nextButtonAction);
    connect(ui.nextArrow, &QPushButton::clicked, this, &ProcessPage::nextButtonAction);
    // Enter presses the button that goes on (Continue once it shows, else
    // Sync/Stop); Escape closes the page only where it has Done.
    ScreenKeys::install(
        this,
        [this]() -> QAbstractButton * {
            return ui.launchSbxBtn->isVisibleTo(this) ? ui.launchSbxBtn : ui.processVewSyncButton;
        },
        [this] {
            if (ui.doneBtn->isVisibleTo(this))
                doneAction();
        });

    Sonarbox &sonarbox = Sonarbox::instance();
    // The sync updates the model from its own thread; the page redraws on
    // the main thread.
    connect(&sonarbox.progressPage(), &ProgressPage::changed, this, &ProcessPage::showState,
            Qt::QueuedConnection);
    connect(&sonarbox.syncProgress(), &SyncProgress::changed, this, &ProcessPage::showState,
            Qt::QueuedConnection);
    LastSyncSummary &summary = LastSyncSummary::instance();
    const auto showSummary = [this, &summary] {
        const auto show = [](QLabel *label, const QString &text) {
            label->setText(text);
            label->setHidden(text.isEmpty());
        };
        show(ui.lastSyncSummary, summary.text());
        show(ui.lastChangeSummary, summary.lastChange());
    };
    showSummary();
    connect(&summary, &LastSyncSummary::changed, this, showSummary);
    showState();
    sonarbox.statusMenu().statusMenuShowProcessPage();

    m_reachabilityObserver = NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("kReachabilityChangedNotification"),
        [](QObject *) { logAction("reachabilityChanged:"); });
}

ProcessPage::~ProcessPage() {
    NotificationCenter::defaultCenter().removeObserver(m_reachabilityObserver);
}

void ProcessPage::showState() {
    Sonarbox &sonarbox = Sonarbox::instance();
    const SyncProgress::State progress = sonarbox.syncProgress().state();
    ui.progressBar->setProgress(float(progress.fraction));
    ui.progressBar->setPercentage(progress.percentage);
    ui.progressBar->setSongArtist(progress.artist);
    ui.progressBar->setSongName(progress.song);
    const ProgressPage::State state = sonarbox.progressPage().state();
    ui.progressDescription->setText(state.description);
    ui.processViewTxtContent->setText(state.textContent);
    ui.processVewSyncButton->setText(state.syncButtonTitle);
    ui.processVewSyncButton->setHidden(state.syncButtonHidden);
    ui.doneBtn->setHidden(state.doneButtonHidden);
    // Continuing while the import goes on is a running sync's offer; once
    // it has ended, Done is the way on (a stage stopped late may still have
    // revealed them).
    ui.nextArrow->setHidden(!state.syncRunning || state.nextArrowHidden);
    ui.youDontNeedToWait->setHidden(!state.syncRunning || state.noNeedToWaitHidden);
    ui.launchSbxBtn->setHidden(!state.syncRunning || state.launchButtonHidden);
}

void ProcessPage::toggleSync() {
    logAction("toggleSync:");
    Sonarbox &sonarbox = Sonarbox::instance();
    if (sonarbox.isAppOffline) {
        showOfflineAlert();
        return;
    }
    if (ui.processVewSyncButton->text() == QLatin1String("Sync")) {
        ui.processVewSyncButton->setText(QStringLiteral("Stop"));
        // Cleared before the chain starts: a stop request left from an
        // earlier sync would otherwise end the new one at its first stage.
        sonarbox.flow_stopProcesses = false;
        sonarbox.sync(true);
    } else {
        ui.processVewSyncButton->setText(QStringLiteral("Sync"));
        sonarbox.stopSyncAction();
        sonarbox.flow_stopProcesses = true;
    }
}

void ProcessPage::showOfflineAlert() {
    if (m_offlineAlert)
        return; // one alert at a time
    auto *alert = new QMessageBox(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->setIcon(QMessageBox::Warning);
    alert->setText(QStringLiteral("Application is Offline"));
    alert->setInformativeText(QStringLiteral("Please connect to the internet to resume sync."));
    alert->addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    alert->setAccessibleName(QStringLiteral("Application is Offline"));
    m_offlineAlert = alert;
    // Not exec(): the page and the sync go on while the alert is up.
    alert->open();
}

void ProcessPage::doneAction() {
    logAction("doneAction:");
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("closeSettingsViewNotification"), this);
}

void ProcessPage::nextButtonAction() {
    logAction("nextButtonAction:");
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("showLaunchSBXScreenNotification"), this);
}

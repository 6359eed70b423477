#include "MediaScanSummary.h"

#include "FolderDialogs.h"
#include "ScreenKeys.h"
#include "SummaryCellView.h"
#include "engine/Sonarbox.h"
#include "settings/FolderUrls.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"

#include <QApplication>
#include <QPointer>

namespace {

const QString WaitingText = QStringLiteral("Please wait while we scan...");

MediaScanSummary::Previewer &previewer() {
    static MediaScanSummary::Previewer instance;
    return instance;
}

// The key under which the scan counts a chosen folder.
QString scannedPath(const QUrl &folder) {
    return folder.isLocalFile() ? folder.toLocalFile()
                                : Utility::normalizeFilePath(folder.toString());
}

QString describe(const QMap<QString, QString> &amounts) {
    QStringList entries;
    for (auto it = amounts.cbegin(); it != amounts.cend(); ++it)
        entries << QStringLiteral("\"%1\" = %2;").arg(it.key(), it.value());
    return QStringLiteral("{%1}").arg(entries.join(QLatin1Char(' ')));
}

} // namespace

MediaScanSummary::MediaScanSummary(QWidget *parent)
    : CustomView(parent) {
    ui.setupUi(this);
    setViewName(QStringLiteral("MediaScanSummary"));
    Sonarbox &sonarbox = Sonarbox::instance();
    m_choice = sonarbox.userPickedMediaLibrary();
    m_folders = sonarbox.userMediaFoldersToScan();

    GAUtility::instance().GATrackView(QStringLiteral("mediaScanSummaryView"));
    GAUtility::instance().GAUserLibraryPicked(m_choice);

    using Localization::localizedString;
    ui.customFolderLabel->setText(
        Utility::getShortenedFolderPath(sonarbox.userDownloadDirectory()));
    ui.customFolderLabel->setToolTip(sonarbox.userDownloadDirectory());
    ui.musicDownloadedToLabel->setText(QStringLiteral("Synced Music Will be downloaded to"));
    ui.changeDlFolderLabel->setText(
        localizedString(QStringLiteral("SettingsViewModel_Commands_ChangeFolder")));
    ui.backBtn->setText(localizedString(QStringLiteral("Commands_Back")));
    ui.nextBtn->setText(QStringLiteral("Next"));
    ui.nextBtn->setEnabled(false);
    ui.previewBtn->setText(QStringLiteral("Preview"));
    ui.previewBtn->setEnabled(false);

    scanProcess();
    ui.progressIndicator->setVisible(true);

    m_amountOfRows = m_choice != LibraryChoice::ChosenFolders ? 1 : int(m_folders.size());
    ui.otherDirInfoView->setVisible(m_choice != LibraryChoice::MusicPlayer);
    reloadTable();
    sonarbox.statusMenu().statusMenuScanSummaryView();
    qCInfo(lcShell).noquote()
        << QStringLiteral("Amount of Songs: %1").arg(sonarbox.localLibraryTrackCount());

    connect(ui.changeDlFolderLabel, &QPushButton::clicked, this,
            &MediaScanSummary::changeCustomFolder);
    connect(ui.backBtn, &QPushButton::clicked, this, &MediaScanSummary::showMediaPickerView);
    connect(ui.nextBtn, &QPushButton::clicked, this, &MediaScanSummary::showProcessingView);
    connect(ui.previewBtn, &QPushButton::clicked, this, &MediaScanSummary::showPreview);
    ScreenKeys::install(this, ui.nextBtn, [this] { showMediaPickerView(); });
}

MediaScanSummary::~MediaScanSummary() {
    // A scan that has not started yet is not wanted any more.
    if (m_scanProcess)
        m_scanProcess->cancel();
}

void MediaScanSummary::scanProcess() {
    // The completion runs on the stage thread; the screen may be gone by the
    // time it arrives on the main thread.
    const QPointer<MediaScanSummary> self(this);
    m_scanProcess = std::make_shared<StageOperation>(
        [self] {
            Sonarbox::instance().scanLocalMedia([self] {
                QMetaObject::invokeMethod(
                    qApp,
                    [self] {
                        if (self)
                            self->scanDone();
                    },
                    Qt::QueuedConnection);
            });
        },
        "scanProcess");
    Sonarbox::instance().operationQueue().addOperation(m_scanProcess);
}

void MediaScanSummary::scanDone() {
    ui.nextBtn->setEnabled(true);
    ui.previewBtn->setEnabled(true);
    ui.progressIndicator->setVisible(false);
    reloadTable();
    qCInfo(lcShell).noquote() << QStringLiteral("scanLocalMedia FINISHED: %1")
                                     .arg(Sonarbox::instance().localLibraryTrackCount());
    emit scanFinished();
}

void MediaScanSummary::reloadTable() {
    QTableWidget *table = ui.localSongsAmountTable;
    table->setRowCount(m_amountOfRows);
    for (int row = 0; row < m_amountOfRows; ++row) {
        auto *cell = qobject_cast<SummaryCellView *>(table->cellWidget(row, 0));
        if (!cell) {
            cell = new SummaryCellView(QStringLiteral("SummaryCell"));
            table->setItem(row, 0, new QTableWidgetItem());
            table->setCellWidget(row, 0, cell);
        }
        fillRow(row, cell);
        table->item(row, 0)->setData(
            Qt::AccessibleTextRole,
            QStringList{cell->folderTitle()->text(), cell->folderFileCount()->text()}.join(
                QLatin1Char(' ')));
    }
}

void MediaScanSummary::fillRow(int row, SummaryCellView *cell) const {
    cell->folderTitle()->setText(WaitingText);
    cell->folderFileCount()->clear();
    cell->setIconName(QString());
    // The counts are shown only once this screen's own scan has ended: the
    // coordinator's lists still hold the previous scan's results until then.
    if (!ui.nextBtn->isEnabled()) {
        if (row > 0)
            cell->folderTitle()->clear();
        return;
    }
    const Sonarbox &sonarbox = Sonarbox::instance();
    if (m_choice != LibraryChoice::ChosenFolders) {
        const bool player = m_choice == LibraryChoice::MusicPlayer;
        cell->setIconName(player ? QStringLiteral("icon_itunes") : QStringLiteral("icon_folder"));
        cell->folderTitle()->setText(
            player ? Localization::localizedString(QStringLiteral("FolderSelectionView_iTunes"))
                   : QStringLiteral("Music Folder"));
        cell->folderFileCount()->setText(
            QStringLiteral("Found %1 tracks").arg(sonarbox.localLibraryTrackCount()));
        return;
    }
    const QMap<QString, QString> amounts = sonarbox.userMediaFoldersToScanWithSongAmounts();
    if (amounts.isEmpty()) {
        if (row > 0)
            cell->folderTitle()->clear();
        return;
    }
    qCInfo(lcShell).noquote() << QStringLiteral("DICTIONARY %1").arg(describe(amounts));
    const QUrl &folder = m_folders.at(row);
    // A folder the scan did not reach (it was stopped) has found nothing.
    const QString amount = amounts.value(scannedPath(folder), QStringLiteral("0"));
    qCInfo(lcShell).noquote() << amount;
    cell->setIconName(QStringLiteral("icon_folder"));
    cell->folderTitle()->setText(FolderUrls::displayName(folder));
    cell->folderFileCount()->setText(QStringLiteral("Found %1 tracks").arg(amount));
}

SummaryCellView *MediaScanSummary::cellAt(int row) const {
    return qobject_cast<SummaryCellView *>(ui.localSongsAmountTable->cellWidget(row, 0));
}

void MediaScanSummary::changeCustomFolder() {
    qCInfo(lcShell) << "changeCustomFolder";
    FolderDialogs::installDownloadFolderChooser(this);
    const QPointer<QLabel> label(ui.customFolderLabel);
    Sonarbox::instance().changeDefaultDownloadDir([label](const QString &shortened) {
        if (label) {
            label->setText(shortened);
            label->setToolTip(Sonarbox::instance().userDownloadDirectory());
        }
    });
}

void MediaScanSummary::showMediaPickerView() {
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("showMediaPickerViewNotification"), this);
}

void MediaScanSummary::showProcessingView() {
    // Only after this screen's scan: Next is what starts the first sync.
    if (!ui.nextBtn->isEnabled())
        return;
    Sonarbox &sonarbox = Sonarbox::instance();
    GenericDAO::instance().resetAllTracksInDB();
    sonarbox.setSyncMilliSeconds(0);
    sonarbox.setDidUserPickLibrary(true);
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("YES"));
    const qint64 found = sonarbox.localLibraryTrackCount();
    NSDefaultsUtility::standard().saveSongAmountToProcessFromLibrary(found);
    GAUtility::instance().GASongsToProcess(found);
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("showProcessingViewNotification"), this);
    sonarbox.sync(false);
}

void MediaScanSummary::setPreviewer(Previewer previewer) {
    ::previewer() = std::move(previewer);
}

void MediaScanSummary::showPreview() {
    if (!ui.nextBtn->isEnabled() || !ui.previewBtn->isEnabled())
        return;
    qCInfo(lcShell) << "showPreview";
    ui.previewBtn->setEnabled(false);
    ui.previewBtn->setText(QStringLiteral("Working it out..."));
    const QPointer<MediaScanSummary> self(this);
    const auto done = [self](const DryRunReport &report) {
        if (!self)
            return;
        self->ui.previewBtn->setText(QStringLiteral("Preview"));
        self->ui.previewBtn->setEnabled(true);
        if (self->m_previewDialog)
            self->m_previewDialog->close();
        auto *box =
            new QMessageBox(report.completed() ? QMessageBox::Information : QMessageBox::Warning,
                            QStringLiteral("What the first sync would do"),
                            report.lines().join(QLatin1Char('\n')), QMessageBox::Ok, self);
        box->setAttribute(Qt::WA_DeleteOnClose);
        self->m_previewDialog = box;
        box->open();
        emit self->previewShown();
    };
    if (::previewer())
        ::previewer()(done);
    else
        DryRun::start(done);
}

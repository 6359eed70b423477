#include "MediaLibraryPicker.h"

#include "FolderCell.h"
#include "FolderDialogs.h"
#include "ScreenKeys.h"
#include "engine/Sonarbox.h"
#include "settings/FolderUrls.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"
#include "settings/Utility.h"

#include <QButtonGroup>
#include <QPointer>

namespace {

QList<QUrl> folderUrls(const QStringList &paths) {
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << FolderUrls::fromPath(path);
    return urls;
}

} // namespace

MediaLibraryPicker::MediaLibraryPicker(QWidget *parent)
    : CustomView(parent)
    , m_libraryPicker(new QButtonGroup(this)) {
    ui.setupUi(this);
    setViewName(QStringLiteral("MediaLibraryPicker"));
    qCInfo(lcShell) << "[awakeFromNib] @class:MediaLibraryPicker";
    GAUtility::instance().GATrackView(QStringLiteral("mediaLibraryPickerView"));

    using Localization::localizedString;
    ui.viewText->setText(
        localizedString(QStringLiteral("SynchronizationSourceSelectionViewModel_Name")));
    ui.itunesOptionLabel->setText(localizedString(QStringLiteral("FolderSelectionView_iTunes")));
    ui.musicFolderOptionLabel->setText(QStringLiteral("Music Folder"));
    ui.otherFolderOptionLabel->setText(
        localizedString(QStringLiteral("FolderSelectionView_OtherFolder")));
    ui.continueBtn->setText(localizedString(QStringLiteral("InAdvance_Continue")));
    ui.addFolderButton->setText(localizedString(
        QStringLiteral("SynchronizationSourceSelectionViewModel_Commands_AddFolder")));
    ui.removeFolderButton->setText(localizedString(QStringLiteral("InAdvance_RemoveFolder")));

    m_libraryPicker->addButton(ui.itunesOptionLabel, 1);
    m_libraryPicker->addButton(ui.musicFolderOptionLabel, 2);
    m_libraryPicker->addButton(ui.otherFolderOptionLabel, 3);

    Sonarbox &sonarbox = Sonarbox::instance();
    const LibraryChoice choice = sonarbox.userPickedMediaLibrary();
    showOtherFoldersOptions(false);
    m_libraryPicker->button(int(choice))->setChecked(true);
    if (choice == LibraryChoice::ChosenFolders) {
        showOtherFoldersOptions(true);
        qCInfo(lcShell).noquote() << QStringLiteral("userMediaFoldersToScan %1")
                                         .arg(sonarbox.userMediaFoldersToScan().size());
    }
    sonarbox.statusMenu().statusMenuLibraryPickerView();

    const QFont raleway(QStringLiteral("Raleway"), 14);
    ui.foldersTable->setFont(raleway);
    for (QAbstractButton *radio : m_libraryPicker->buttons())
        radio->setFont(raleway);
    reloadFolders();
    displaySongsAmount();

    connect(m_libraryPicker, &QButtonGroup::idClicked, this, &MediaLibraryPicker::libraryPicked);
    connect(ui.foldersTable, &QTableWidget::currentCellChanged, this,
            [this](int row) { rowSelected(row); });
    connect(ui.foldersTable, &QTableWidget::cellClicked, this,
            [this](int row) { rowSelected(row); });
    connect(ui.addFolderButton, &QPushButton::clicked, this, &MediaLibraryPicker::addOtherFolder);
    connect(ui.removeFolderButton, &QPushButton::clicked, this,
            &MediaLibraryPicker::removeOtherFolder);
    connect(ui.continueBtn, &QPushButton::clicked, this,
            &MediaLibraryPicker::gotoMediaScanSummaryPage);
    // Escape takes the keyboard back to the choice.
    ScreenKeys::install(this, ui.continueBtn, [this] {
        if (QAbstractButton *chosen = m_libraryPicker->checkedButton())
            chosen->setFocus(Qt::ShortcutFocusReason);
    });
}

void MediaLibraryPicker::libraryPicked(int tag) {
    qCInfo(lcShell).noquote() << QStringLiteral("libraryPikced Pressed %1").arg(tag);
    switch (libraryChoiceFrom(tag)) {
    case LibraryChoice::MusicPlayer:
        qCInfo(lcShell) << "iTunes Library Selected";
        showOtherFoldersOptions(false);
        break;
    case LibraryChoice::MusicFolder:
        qCInfo(lcShell) << "Music Folder Library Selected";
        showOtherFoldersOptions(false);
        break;
    case LibraryChoice::ChosenFolders:
        qCInfo(lcShell) << "Other Selected";
        showOtherFoldersOptions(true);
        break;
    }
    displaySongsAmount();
}

LibraryChoice MediaLibraryPicker::choice() const {
    return libraryChoiceFrom(m_libraryPicker->checkedId());
}

void MediaLibraryPicker::showOtherFoldersOptions(bool show) {
    ui.tableViewHolder->setVisible(show);
    ui.addFolderButton->setVisible(show);
    ui.removeFolderButton->setVisible(show);
}

void MediaLibraryPicker::displaySongsAmount() {
    ui.songsFoundLabel->setText(
        QStringLiteral("Found: %1 songs").arg(Sonarbox::instance().localLibraryTrackCount()));
}

void MediaLibraryPicker::addOtherFolder() {
    const QPointer<MediaLibraryPicker> self(this);
    FolderDialogs::chooseFolders(
        {this, QStringLiteral("Pick a folder to scan for media files..."), true},
        [self](const QStringList &paths) {
            if (paths.isEmpty() || !self)
                return;
            Sonarbox &sonarbox = Sonarbox::instance();
            QList<QUrl> folders = sonarbox.userMediaFoldersToScan();
            folders.append(folderUrls(paths));
            sonarbox.setUserMediaFoldersToScan(folders);
            QStringList texts;
            for (const QUrl &folder : folders)
                texts << folder.toString();
            qCInfo(lcShell).noquote()
                << QStringLiteral("File paths: (%1)").arg(texts.join(QStringLiteral(", ")));
            self->reloadFolders();
        });
}

void MediaLibraryPicker::removeOtherFolder() {
    Sonarbox &sonarbox = Sonarbox::instance();
    QList<QUrl> folders = sonarbox.userMediaFoldersToScan();
    if (folders.isEmpty()) {
        ui.removeFolderButton->setEnabled(false);
        return;
    }
    qCInfo(lcShell).noquote() << QStringLiteral("Row to be removed: %1").arg(m_currentSelectedRow);
    // The remembered row may be gone (nothing selected since the last
    // removal, or the list changed elsewhere): then nothing is removed.
    if (m_currentSelectedRow < 0 || m_currentSelectedRow >= folders.size()) {
        qCWarning(lcShell) << "No folder at row" << m_currentSelectedRow << "- nothing removed";
        ui.removeFolderButton->setEnabled(false);
        return;
    }
    const int removed = m_currentSelectedRow;
    folders.removeAt(removed);
    sonarbox.setUserMediaFoldersToScan(folders);
    reloadFolders();
    if (folders.isEmpty()) {
        ui.removeFolderButton->setEnabled(false);
    } else {
        // The row that took the removed one's place is selected next, so that
        // Remove always acts on what the table shows as selected.
        const int next = std::min(removed, int(folders.size()) - 1);
        ui.foldersTable->setCurrentCell(next, 0);
        rowSelected(next);
    }
}

void MediaLibraryPicker::reloadFolders() {
    const QList<QUrl> folders = Sonarbox::instance().userMediaFoldersToScan();
    QTableWidget *table = ui.foldersTable;
    const QSignalBlocker quiet(table);
    table->setCurrentItem(nullptr);
    table->clearContents();
    table->setRowCount(int(folders.size()));
    for (int row = 0; row < folders.size(); ++row) {
        auto *cell = new FolderCell(QStringLiteral("MyView"));
        const QString name = FolderUrls::displayName(folders.at(row));
        cell->textField()->setText(name);
        auto *item = new QTableWidgetItem();
        item->setData(Qt::AccessibleTextRole, name);
        item->setToolTip(folders.at(row).toLocalFile());
        table->setItem(row, 0, item);
        table->setCellWidget(row, 0, cell);
    }
    m_currentSelectedRow = -1;
    ui.removeFolderButton->setEnabled(false);
}

void MediaLibraryPicker::rowSelected(int row) {
    if (row < 0)
        return;
    ui.removeFolderButton->setEnabled(true);
    m_currentSelectedRow = row;
}

void MediaLibraryPicker::gotoMediaScanSummaryPage() {
    Sonarbox &sonarbox = Sonarbox::instance();
    if (choice() == LibraryChoice::ChosenFolders) {
        const QList<QUrl> folders = sonarbox.userMediaFoldersToScan();
        if (folders.isEmpty())
            return;
        NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan(folders);
    }
    sonarbox.setUserPickedMediaLibrary(choice());
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("showMediaScanSummaryNotification"), this);
}

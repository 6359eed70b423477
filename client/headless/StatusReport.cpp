#include "StatusReport.h"

#include "engine/Sonarbox.h"
#include "settings/DeploymentConfig.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"
#include "store/GenericDAO.h"

#include <QDateTime>

namespace {

QString accountLine() {
    const UserPtr user = GenericDAO::instance().uniqueResult<User>();
    if (!user || (!user->username && !user->facebookToken))
        return QStringLiteral("Account: not signed in");
    if (user->username)
        return QStringLiteral("Account: %1").arg(*user->username);
    return QStringLiteral("Account: signed in through Facebook");
}

QStringList libraryLines() {
    const Sonarbox &sonarbox = Sonarbox::instance();
    if (!sonarbox.didUserPickLibrary())
        return {QStringLiteral("Library: not chosen yet (choose it with --library)")};
    switch (sonarbox.userPickedMediaLibrary()) {
    case LibraryChoice::MusicPlayer: {
        const DeploymentConfig &config = DeploymentConfig::current();
        return {QStringLiteral("Library: the music player's library (MPD on %1:%2, music in %3)")
                    .arg(config.mpdHost)
                    .arg(config.mpdPort)
                    .arg(config.mpdMusicFolderPath())};
    }
    case LibraryChoice::MusicFolder:
        return {
            QStringLiteral("Library: the Music folder (%1Music)").arg(sonarbox.userDirectory())};
    case LibraryChoice::ChosenFolders:
        break;
    }
    QStringList lines{QStringLiteral("Library: these folders")};
    for (const QUrl &folder : sonarbox.userMediaFoldersToScan())
        lines << QStringLiteral("  %1").arg(folder.toLocalFile());
    return lines;
}

QStringList trackLines() {
    GenericDAO &dao = GenericDAO::instance();
    int waitingForUpload = 0;
    int unanswered = 0;
    for (const AudioPtr &track : dao.getAll<Audio>()) {
        if (!track->downloadable)
            ++unanswered;
        else if (!*track->downloadable)
            ++waitingForUpload;
    }
    return {QStringLiteral("Tracks stored: %1").arg(dao.getSize(QStringLiteral("Audio"))),
            QStringLiteral("Waiting for upload: %1").arg(waitingForUpload),
            QStringLiteral("Not answered by the service yet: %1").arg(unanswered)};
}

QString lastSyncLine() {
    const std::optional<QString> time =
        NSDefaultsUtility::standard().text(PreferenceKeys::LastSyncTime);
    if (!time)
        return QStringLiteral("Last sync: never");
    const QDateTime when = QDateTime::fromString(*time, Qt::ISODate).toLocalTime();
    const QString outcome = NSDefaultsUtility::standard()
                                .text(PreferenceKeys::LastSyncOutcome)
                                .value_or(QStringLiteral("unknown"));
    return QStringLiteral("Last sync: %1, %2")
        .arg(when.isValid() ? when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : *time,
             outcome);
}

} // namespace

QStringList statusReport() {
    QStringList lines{accountLine()};
    lines << libraryLines();
    lines
        << QStringLiteral("Download folder: %1").arg(Sonarbox::instance().userDownloadDirectory());
    lines << trackLines();
    lines << lastSyncLine();
    if (Sonarbox::instance().syncPause().pausedByUser())
        lines << QStringLiteral("Syncing: paused (resume with --resume)");
    return lines;
}

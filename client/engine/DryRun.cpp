#include "DryRun.h"

#include "Sonarbox.h"
#include "SyncEngine.h"
#include "service/LibraryListing.h"
#include "settings/Logging.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"
#include "sync/DownloadSongsFromCloud.h"
#include "sync/GraceNote.h"
#include "sync/ScanForLocalMedia.h"
#include "sync/UploadRate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

QString mebibytes(qint64 bytes) {
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
}

QString rate(double bytesPerSecond) {
    if (bytesPerSecond >= 1024.0 * 1024.0)
        return QStringLiteral("%1 MiB/s").arg(bytesPerSecond / (1024.0 * 1024.0), 0, 'f', 1);
    return QStringLiteral("%1 KiB/s").arg(bytesPerSecond / 1024.0, 0, 'f', 0);
}

QString duration(qint64 seconds) {
    const qint64 h = seconds / 3600;
    const qint64 m = seconds % 3600 / 60;
    const qint64 s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1 h %2 min").arg(h).arg(m);
    if (m > 0)
        return QStringLiteral("%1 min %2 s").arg(m).arg(s);
    return QStringLiteral("%1 s").arg(s);
}

bool recognised(const Audio &track) {
    return track.fingerPrintID && !track.fingerPrintID->isEmpty() && *track.fingerPrintID != "-1";
}

qint64 fileSize(const Audio &track) {
    return QFileInfo(Utility::normalizeFilePath(track.fileURL.value_or(QString()))).size();
}

// A listed song the download stage would take as there already: its file in
// the download folder under its name, with its content.
bool alreadyDownloaded(const Audio &song, const QString &folder) {
    const QString checksum = song.checksum.value_or(QString());
    if (checksum.isEmpty() ||
        Sonarbox::instance().userPickedMediaLibrary() == LibraryChoice::MusicPlayer)
        return false;
    const QString path = QDir(folder).filePath(DownloadSongsFromCloud::fileNameFor(song));
    return QFileInfo(path).isFile() && Utility::getMD5FromFile(path) == checksum;
}

} // namespace

QStringList DryRunReport::lines() const {
    QStringList out;
    out << QStringLiteral("Dry run: nothing that changes the cloud library was sent, and "
                          "nothing was stored or downloaded.");
    if (!completed()) {
        out << QStringLiteral("The dry run did not finish: %1").arg(error);
        return out;
    }
    out << QStringLiteral("Files found: %1").arg(filesFound)
        << QStringLiteral("Tracks already known: %1").arg(tracksKnown)
        << QStringLiteral("Files to identify: %1").arg(filesToIdentify)
        << QStringLiteral("Expected from the catalogue without upload: %1")
               .arg(expectedFromCatalogue)
        << QStringLiteral("Songs to download: %1").arg(songsToDownload)
        << QStringLiteral("Tracks to upload: %1 (%2)")
               .arg(tracksToUpload)
               .arg(mebibytes(uploadBytes));
    if (tracksToUpload == 0)
        return out;
    if (uploadBytesPerSecond)
        out << QStringLiteral("Upload time: about %1 at %2, the rate of the last uploads")
                   .arg(duration(UploadRate::secondsFor(uploadBytes, *uploadBytesPerSecond)),
                        rate(*uploadBytesPerSecond));
    else
        out << QStringLiteral("Upload time: not estimated, no upload rate has been measured yet");
    return out;
}

DryRunReport DryRun::run(SyncEngine &engine, const RunContext &context) {
    DryRunReport report;
    Sonarbox &sonarbox = Sonarbox::instance();
    RunContext preview = context;
    preview.dryRun = true;
    const auto run = std::make_shared<SyncRun>(preview);
    qCInfo(lcSync) << "=== DRY RUN START";

    engine.scanner().scanFileSystemForMedia(run, {});
    bool identified = false;
    if (!run->isStopped())
        engine.graceNote().fingderPrintLocalMediaFiles(run, [&identified] { identified = true; });
    if (!identified) {
        report.error = QStringLiteral("it was stopped");
        return report;
    }
    if (sonarbox.isAppOffline) {
        report.error = QStringLiteral("the network is offline");
        return report;
    }
    const LibraryListing::Result fetched =
        LibraryListing::fetch(sonarbox.serviceClient(), preview, sonarbox.syncMilliSeconds());
    if (fetched.status)
        sonarbox.setReplyStatus(*fetched.status);
    if (!fetched.listing) {
        report.error = fetched.whyNot;
        return report;
    }
    const JSONRecievedDataParser::CloudListing &listing = *fetched.listing;

    const QList<AudioPtr> identifiedTracks = engine.graceNote().previewed();
    report.filesFound = run->localLibraryTrackCount();
    report.filesToIdentify = identifiedTracks.size();
    report.tracksKnown = std::max<qsizetype>(0, report.filesFound - report.filesToIdentify);

    GenericDAO &dao = sonarbox.store();
    const GenericDAO::TrackIndex stored = dao.storedTrackIndex();
    QSet<QString> owned;
    for (const AudioPtr &song : listing.tracks)
        if (song && song->markedForDeletion != true && song->checksum)
            owned.insert(*song->checksum);

    // Each content goes up once, whether it waits in the store or is new.
    QSet<QString> uploading;
    const auto upload = [&](const Audio &track) {
        if (!uploading.contains(track.checksum.value_or(QString()))) {
            uploading.insert(track.checksum.value_or(QString()));
            ++report.tracksToUpload;
            report.uploadBytes += fileSize(track);
        }
    };
    for (const AudioPtr &track : dao.tracksByDownloadable(false))
        upload(*track);
    QSet<QString> newContent;
    for (const AudioPtr &track : identifiedTracks) {
        const QString checksum = track->checksum.value_or(QString());
        // A second file of one content, or one the store holds, is not stored.
        if (newContent.contains(checksum) || stored.byChecksum.contains(checksum))
            continue;
        newContent.insert(checksum);
        if (recognised(*track) || owned.contains(checksum))
            ++report.expectedFromCatalogue;
        else
            upload(*track);
    }

    const QString folder = sonarbox.userDownloadDirectory();
    for (const AudioPtr &song : listing.tracks) {
        if (!song || song->markedForDeletion == true || song->downloadable != true)
            continue;
        const QString checksum = song->checksum.value_or(QString());
        if (stored.userMediaIDs.contains(song->userMediaID.value_or(QString())) ||
            (!checksum.isEmpty() &&
             (stored.byChecksum.contains(checksum) || newContent.contains(checksum))))
            continue;
        if (!alreadyDownloaded(*song, folder))
            ++report.songsToDownload;
    }
    report.uploadBytesPerSecond = UploadRate::measured(sonarbox.preferences());
    qCInfo(lcSync).noquote()
        << QStringLiteral("=== DRY RUN END | %1").arg(report.lines().join(" | "));
    return report;
}

void DryRun::start(SyncEngine &engine, std::function<void(const DryRunReport &)> done) {
    const RunContext context = Sonarbox::instance().runContext();
    auto operation = std::make_shared<StageOperation>(
        [&engine, context, done = std::move(done)] {
            const DryRunReport report = run(engine, context);
            QMetaObject::invokeMethod(
                qApp, [done, report] { done(report); }, Qt::QueuedConnection);
        },
        "dryRun");
    Sonarbox::instance().operationQueue().addOperation(operation);
}

void DryRun::start(std::function<void(const DryRunReport &)> done) {
    if (SyncEngine *engine = SyncEngine::installed()) {
        start(*engine, std::move(done));
        return;
    }
    DryRunReport report;
    report.error = QStringLiteral("the sync engine is not running");
    QMetaObject::invokeMethod(
        qApp, [done, report] { done(report); }, Qt::QueuedConnection);
}

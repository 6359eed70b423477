#include "CollectionChanges.h"

#include "settings/Logging.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <memory>

#include <sys/stat.h>

namespace CollectionChanges {

namespace {

bool hasRecognisedTrack(const QString &fingerPrintID) {
    return !fingerPrintID.isEmpty() && fingerPrintID != QLatin1String("-1");
}

} // namespace

Decisions decide(const QList<AudioPtr> &found, const QList<StoredFile> &gone,
                 const Lookup &lookup) {
    Decisions decisions;
    // A scan can find thousands of new files beside thousands of gone ones
    // (a renamed top folder): both are looked up by key, never searched.
    QSet<qint64> unaccounted;
    QHash<std::pair<qint64, qint64>, qint64> goneByFile; // (device, inode) -> track
    for (const StoredFile &file : gone) {
        unaccounted.insert(file.objectID);
        if (file.stamp && file.stamp->inode != 0)
            goneByFile.insert({file.stamp->device, file.stamp->inode}, file.objectID);
    }
    QSet<qint64> taken; // gone tracks a new file accounted for
    const auto takeGone = [&](qint64 objectID) {
        taken.insert(objectID);
        unaccounted.remove(objectID);
    };

    for (const AudioPtr &track : found) {
        const QString path = track->fileURL.value_or(QString());
        if (!track->checksum || track->checksum->isEmpty())
            track->checksum = lookup.checksumOf(path);
        const QString checksum = track->checksum.value_or(QString());
        if (checksum.isEmpty()) {
            // Unreadable now: the fingerprint stage says so and the next scan
            // tries again.
            decisions.toIdentify.append(track);
            continue;
        }
        const std::optional<StoredFile> same = lookup.byChecksum(checksum);
        if (same && same->objectID == track->previousObjectID) {
            // Touched, or written back as it was: the same bytes.
            if (const auto stamp = stampOf(*track))
                decisions.restamped.insert(same->objectID, *stamp);
            continue;
        }
        if (same) {
            const bool oldPathGone =
                !taken.contains(same->objectID) &&
                (unaccounted.contains(same->objectID) || !lookup.exists(same->path));
            if (oldPathGone) {
                qCInfo(lcSync).noquote() << QStringLiteral("Moved: %1 -> %2").arg(same->path, path);
                decisions.moves.append({*same, track});
                takeGone(same->objectID);
            } else {
                qCInfo(lcSync).noquote()
                    << QStringLiteral("Copy of a stored track: %1 (the same as %2)")
                           .arg(path, same->path);
                decisions.copies.append(track);
            }
            continue;
        }
        if (track->previousObjectID == 0) {
            // Renamed and then written to: the file is still the same one.
            const auto stamp = stampOf(*track);
            if (stamp && stamp->inode != 0) {
                const qint64 was = goneByFile.value({stamp->device, stamp->inode}, 0);
                if (was != 0 && unaccounted.contains(was)) {
                    track->previousObjectID = was;
                    takeGone(was);
                }
            }
        }
        if (track->previousObjectID != 0)
            qCInfo(lcSync).noquote() << QStringLiteral("New version: %1").arg(path);
        decisions.toIdentify.append(track);
    }
    for (const StoredFile &file : gone) {
        if (unaccounted.contains(file.objectID))
            decisions.gone.append(file);
    }
    return decisions;
}

Lookup storeLookup(GenericDAO &store) {
    Lookup lookup;
    // Every stored checksum, read once for the pass.
    auto index = std::make_shared<const GenericDAO::TrackIndex>(store.storedTrackIndex());
    lookup.anyStored = !index->byChecksum.isEmpty();
    lookup.byChecksum = [index, &store](const QString &checksum) -> std::optional<StoredFile> {
        const auto it = index->byChecksum.constFind(checksum);
        if (it == index->byChecksum.cend())
            return std::nullopt;
        const AudioPtr stored = store.getByObjectID(*it);
        if (!stored)
            return std::nullopt;
        StoredFile file;
        file.objectID = stored->objectID;
        file.path = stored->fileURL.value_or(QString());
        file.checksum = checksum;
        file.userMediaID = stored->userMediaID.value_or(QString());
        file.fingerPrintID = stored->fingerPrintID.value_or(QString());
        file.stamp = stampOf(*stored);
        return file;
    };
    lookup.checksumOf = [](const QString &path) { return Utility::getMD5FromFile(path); };
    lookup.exists = [](const QString &path) {
        struct stat attributes {};
        return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &attributes) == 0;
    };
    return lookup;
}

void apply(GenericDAO &store, const Decisions &decisions) {
    GenericDAO &dao = store;
    for (const auto &[track, file] : decisions.moves) {
        // A track whose file was written over by the moved one has lost it.
        if (file->previousObjectID != 0)
            dao.detachFile(file->previousObjectID);
        dao.moveTrack(track.objectID, file->fileURL.value_or(QString()),
                      stampOf(*file).value_or(FileStamp{}));
    }
    for (const AudioPtr &copy : decisions.copies) {
        if (copy->previousObjectID != 0)
            dao.detachFile(copy->previousObjectID);
        if (const auto stamp = stampOf(*copy))
            dao.rememberDuplicate(copy->fileURL.value_or(QString()),
                                  {copy->checksum.value_or(QString()), *stamp});
    }
    dao.recordFileStamps(decisions.restamped);
}

bool linkByRecognition(Audio &track, QList<StoredFile> &gone) {
    if (track.previousObjectID != 0 || !hasRecognisedTrack(track.fingerPrintID.value_or(QString())))
        return false;
    for (qsizetype i = 0; i < gone.size(); ++i) {
        if (gone.at(i).fingerPrintID == *track.fingerPrintID) {
            qCInfo(lcSync).noquote()
                << QStringLiteral("New version: %1 (was %2)")
                       .arg(track.fileURL.value_or(QString()), gone.at(i).path);
            track.previousObjectID = gone.at(i).objectID;
            gone.removeAt(i);
            return true;
        }
    }
    return false;
}

} // namespace CollectionChanges

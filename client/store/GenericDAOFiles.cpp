// The file operations of GenericDAO: what a scan compares with the files it
// finds, tracks that moved, and the files known to repeat a stored track.

#include "GenericDAO.h"

#include "DaoSupport.h"
#include "TrackFileQueries.h"
#include "settings/Logging.h"

using namespace DaoSupport;

namespace {

// Runs the changes on the store and saves them; a failure is logged with `what`.
template <typename F> void change(StoreSetup &setup, const QString &what, F &&work) {
    onStore(setup, [&](StoreContext &store) {
        guarded(what, [&] {
            work(store);
            AppError error;
            if (!store.save(&error))
                qCWarning(lcStore).noquote() << QStringLiteral("ERROR %1").arg(describe(error));
        });
    });
}

} // namespace

QList<StoredFile> GenericDAO::storedFilesUnder(const QString &root) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.storedFilesUnder"),
                       [&] { return TrackFileQueries::storedFilesUnder(store, root); });
    });
}

void GenericDAO::recordFileStamps(const QHash<qint64, FileStamp> &stamps) {
    if (stamps.isEmpty())
        return;
    change(m_setup, QStringLiteral("Error on GenericDAO.recordFileStamps"),
           [&](StoreContext &store) { TrackFileQueries::recordStamps(store, stamps); });
}

void GenericDAO::moveTrack(qint64 objectID, const QString &path, const FileStamp &stamp) {
    change(m_setup, QStringLiteral("Error on GenericDAO.moveTrack"), [&](StoreContext &store) {
        TrackFileQueries::moveTrack(store, objectID, path, stamp);
        // A file that was a copy of this track is now where the track is.
        TrackFileQueries::forgetDuplicates(store, {path});
    });
}

void GenericDAO::detachFile(qint64 objectID) {
    change(m_setup, QStringLiteral("Error on GenericDAO.detachFile"),
           [&](StoreContext &store) { TrackFileQueries::detachFile(store, objectID); });
}

QHash<QString, KnownDuplicate> GenericDAO::knownDuplicates() {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.knownDuplicates"),
                       [&] { return TrackFileQueries::knownDuplicates(store); });
    });
}

void GenericDAO::rememberDuplicate(const QString &path, const KnownDuplicate &duplicate) {
    change(
        m_setup, QStringLiteral("Error on GenericDAO.rememberDuplicate"),
        [&](StoreContext &store) { TrackFileQueries::rememberDuplicate(store, path, duplicate); });
}

void GenericDAO::forgetDuplicates(const QList<QString> &paths) {
    if (paths.isEmpty())
        return;
    change(m_setup, QStringLiteral("Error on GenericDAO.forgetDuplicates"),
           [&](StoreContext &store) { TrackFileQueries::forgetDuplicates(store, paths); });
}

QList<AudioPtr> GenericDAO::tracksToRetire() {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.tracksToRetire"), [&] {
            return StoreQueries::fetch<Audio>(
                store, QStringLiteral("\"replaces\" IS NOT NULL AND \"replaces\" <> ''"), {},
                StoreQueries::Order::None, 0);
        });
    });
}

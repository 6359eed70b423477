// The catalogue operations of GenericDAO: adding tracks without duplicate
// checksums, the diagnostic dump, the account lookup and the database reset.

#include "GenericDAO.h"

#include "DaoSupport.h"
#include "settings/Logging.h"

using namespace DaoSupport;
using StoreQueries::Order;

namespace {

void logLine(const QString &line) {
    qCInfo(lcStore).noquote() << line;
}

// The stored copy of a detached track; duration, durationTime,
// markedForDeletion and partiallyDownloaded stay behind.
Audio storedCopy(const Audio &track, const QString &name) {
    Audio copy;
    copy.name = name;
    copy.checksum = track.checksum;
    copy.userMediaID = track.userMediaID;
    copy.downloaded = track.downloaded;
    copy.downloadable = track.downloadable;
    copy.synced = track.synced;
    copy.fileURL = track.fileURL;
    copy.encrypted = track.encrypted;
    copy.retries = track.retries;
    copy.sequence = track.sequence;
    copy.album = track.album;
    copy.artist = track.artist;
    copy.releaseYear = track.releaseYear;
    copy.modDate = track.modDate;
    copy.fingerPrintID = track.fingerPrintID;
    copy.songName = track.songName;
    copy.fileExtension = track.fileExtension;
    copy.fileSize = track.fileSize;
    copy.fileModified = track.fileModified;
    copy.fileDevice = track.fileDevice;
    copy.fileInode = track.fileInode;
    copy.replaces = track.replaces;
    return copy;
}

QString text(const std::optional<QString> &value) {
    return value ? *value : QStringLiteral("(null)");
}

} // namespace

bool GenericDAO::addTrackToDB(const AudioPtr &track, bool withSave) {
    if (!track)
        return false;
    return onStore(m_setup, [&](StoreContext &store) {
        const QString name =
            track->name.value_or(QString()).isEmpty() ? QStringLiteral("Unknown") : *track->name;
        try {
            QVariantMap variables;
            if (track->checksum)
                variables.insert(QStringLiteral("checksum"), *track->checksum);
            if (!StoreQueries::fetchTemplate(store, QStringLiteral("audioByCode"), variables,
                                             Order::None, 1)
                     .isEmpty()) {
                logLine(QStringLiteral("=== Duplicates in the DB!"));
                return true;
            }
            Audio copy = storedCopy(*track, name);
            if (track->previousObjectID != 0) {
                // The old version's row goes in the same save as the new one
                // is written: a kill leaves one or the other, never neither.
                const QList<AudioPtr> previous =
                    StoreQueries::fetch<Audio>(store, QStringLiteral("\"objectID\" = ?"),
                                               {track->previousObjectID}, Order::None, 1);
                if (!previous.isEmpty()) {
                    const Audio &old = *previous.first();
                    // An old version that never reached the cloud passes on
                    // what it was to retire itself.
                    copy.replaces = isCloudItem(old.userMediaID) ? old.userMediaID : old.replaces;
                    StoreQueries::remove(store, QStringLiteral("Audio"), old.objectID);
                }
            }
            StoreQueries::write(store, copy);
        } catch (const StoreError &error) {
            logLine(QStringLiteral("ERROR %1").arg(error.message()));
            return false;
        }
        if (withSave) {
            AppError error;
            if (!store.save(&error))
                logLine(QStringLiteral("Whoops, couldn't save: %1").arg(describe(error)));
        }
        return false;
    });
}

void GenericDAO::resetAllTracksInDB() {
    logLine(QStringLiteral("--- RESETTING ALL TRACKS IN DB ---"));
    deleteAll(QStringLiteral("Audio"));
    forgetDuplicates(knownDuplicates().keys());
}

void GenericDAO::addEchoNestID(const QString &checksum, const QString &withEchoNestID) {
    onStore(m_setup, [&](StoreContext &store) {
        try {
            const auto found = StoreQueries::fetchTemplate(store, QStringLiteral("audioByCode"),
                                                           {{QStringLiteral("checksum"), checksum}},
                                                           Order::None, 1);
            if (!found.isEmpty()) {
                Audio audio = *found.first();
                audio.fingerPrintID = withEchoNestID;
                StoreQueries::write(store, audio);
            }
        } catch (const StoreError &error) {
            logLine(QStringLiteral("ERROR %1").arg(error.message()));
            return;
        }
        logLine(QStringLiteral("Adding EchoNest ID: %1 for Audio ID: %2")
                    .arg(withEchoNestID, checksum));
        AppError error;
        if (!store.save(&error))
            logLine(QStringLiteral("Whoops, couldn't save: %1").arg(describe(error)));
    });
}

void GenericDAO::showTracksInDB() {
    onStore(m_setup, [&](StoreContext &store) {
        QList<AudioPtr> tracks;
        try {
            tracks = StoreQueries::fetch<Audio>(store, {}, {}, Order::NameDescending);
        } catch (const StoreError &error) {
            logLine(QStringLiteral("ERROR %1").arg(error.message()));
            return;
        }
        logLine(QStringLiteral("========="));
        logLine(QStringLiteral("Tracks Amount in DB: %1").arg(tracks.size()));
        for (const AudioPtr &track : tracks) {
            logLine(QStringLiteral("Track: %1 | MD5: %2 | FP: %3 | MediaID: %4")
                        .arg(text(track->name), text(track->checksum), text(track->fingerPrintID),
                             text(track->userMediaID)));
        }
        logLine(QStringLiteral("========="));
    });
}

UserPtr GenericDAO::getUserFromDB() {
    StoreContext *context = appContext(m_setup);
    if (!context) {
        logLine(QStringLiteral("ERROR %1").arg(QStringLiteral("no store is open")));
        return nullptr;
    }
    return onStore(m_setup, context, [&](StoreContext &store) -> UserPtr {
        try {
            const auto users =
                withSecrets(store, StoreQueries::fetch<User>(store, {}, {}, Order::None, 0));
            UserPtr last;
            for (const UserPtr &user : users) {
                // Sorted by username descending, the first is the greatest.
                if (!last ||
                    user->username.value_or(QString()) > last->username.value_or(QString()))
                    last = user;
            }
            if (!last)
                logLine(
                    QStringLiteral("ERROR %1").arg(QStringLiteral("no User record in the store")));
            return last;
        } catch (const StoreError &error) {
            logLine(QStringLiteral("ERROR %1").arg(error.message()));
            return nullptr;
        }
    });
}

void GenericDAO::resetDB() {
    logLine(QStringLiteral("[resetDB] @class:GenericDAO"));
    StoreContext *context = appContext(m_setup);
    if (!context) {
        logLine(QStringLiteral("Error trying to clear up the database: %1")
                    .arg(QStringLiteral("no store is open")));
        return;
    }
    // The whole reset runs as one task on the store thread: nothing else can
    // use the context meanwhile.
    const bool recreated = onStore(m_setup, context, [&](StoreContext &store) {
        QStringList accounts;
        try {
            for (const UserPtr &user : StoreQueries::fetch<User>(store))
                accounts << user->username.value_or(QString());
        } catch (const StoreError &) {
            // The reset goes on: the secrets of a store that cannot be read stay.
        }
        store.reset();
        bool removed = false;
        if (auto error = store.recreate(&removed)) {
            logLine(removed
                        ? QStringLiteral("Error trying to create a new database: %1").arg(*error)
                        : QStringLiteral("Error trying to clear up the database: %1").arg(*error));
            return false;
        }
        for (const QString &account : accounts)
            store.setup().secrets().remove(account);
        logLine(QStringLiteral("New database created successfully!"));
        logLine(QStringLiteral("coordinator: %1 context: %2")
                    .arg(store.path(), store.connectionName()));
        return true;
    });
    // A context left without a store is forgotten, so that the next request sets up again.
    if (!recreated)
        m_setup.discard(context);
}

#pragma once

#include "Audio.h"
#include "FolderStamp.h"
#include "Media.h"
#include "TrackFiles.h"
#include "User.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class StoreContext;
class StoreSetup;

// The one way the client reads and writes the store. Operations are
// addressed by entity name ("Audio", "User", "Media") or by record type, and
// by the names of the store's named queries ("audioByCode",
// "audioByUserMediaID"), so callers never build queries themselves.
//
// Fetches return stored records (objectID set) as shared pointers, nullptr
// for nothing; a change to a stored record reaches the store when the record
// is passed to save(). Without a store (set-up failed) every fetch yields
// nothing and every save does nothing. Every operation may be called from
// any thread; the work runs on the store thread.
//
// The User record's password and Facebook token are kept in the store's
// SecretStore, never in the store file; fetched User records carry them as
// before.
//
// A DAO works on one store: instance() on the default one, others on the
// store they were made for. The operations that take a context refuse one
// that is not their store's live context.
class GenericDAO {
public:
    // The default store's DAO.
    static GenericDAO &instance();
    // A DAO for `setup`, which must outlive it.
    explicit GenericDAO(StoreSetup &setup);
    GenericDAO(const GenericDAO &) = delete;
    GenericDAO &operator=(const GenericDAO &) = delete;

    StoreSetup &setup() const { return m_setup; }

    // --- fetches ---
    // The first record of the type, in no particular order.
    template <typename R> std::shared_ptr<R> uniqueResult();
    // The first Audio of the named query with {"checksum": code}.
    AudioPtr getById(const QString &templateName, const QString &code);
    AudioPtr getById(const QString &templateName, const QString &code, StoreContext *context);
    // The first Audio of the named query with {column: value}.
    AudioPtr getById(const QString &templateName, const QString &value, const QString &column,
                     StoreContext *context);
    // Every result of the named query with `params` (absent variables match
    // absent fields), by name case-insensitively; limit 0: no limit.
    QList<AudioPtr> search(const QString &templateName, const QVariantMap &params = {},
                           int limit = 0);
    // The named query with {"checksum": model's userMediaID}, by name.
    QList<AudioPtr> search(const QString &templateName, const AudioPtr &model);
    // Every record of the type by name case-insensitively (User records by row).
    template <typename R> QList<std::shared_ptr<R>> getAll();
    // Number of records of the entity.
    int getSize(const QString &entityName);
    // Number of results of the named query with no substitutions.
    int getSizeUsingFetchRequest(const QString &templateName);
    // Whether an Audio has exactly this fileURL (case and trailing slash count).
    bool isFileInDB(const QString &path);
    // The fileURL of every stored track, read in one pass.
    QSet<QString> storedFilePaths();
    // Every stored userMediaID (and every one a stored track replaces), and
    // the stored track of each checksum (by objectID), read in one pass: a
    // listing of any size is matched in memory.
    struct TrackIndex {
        QSet<QString> userMediaIDs;
        QHash<QString, qint64> byChecksum;
    };
    TrackIndex storedTrackIndex();
    // Those of the paths that stored tracks have, in one pass on the store.
    QSet<QString> storedAmong(const QList<QString> &paths);
    // The folders whose files were all stored tracks when a scan last read
    // them, by path with its trailing slash; a track leaving the store
    // unsettles its folder.
    QHash<QString, SettledFolder> settledFolders();
    // How many of them are in the tree at the folder `root`; 0 also when the
    // store cannot say.
    qint64 settledFolderCount(const QString &root);
    // Records what a scan found (folders settled, folders to look at again),
    // then saves.
    void recordScannedFolders(const QHash<QString, SettledFolder> &settled,
                              const QList<QString> &unsettled);
    // The stored tracks whose file is under the folder key `root` (with its
    // trailing slash), with what the store knows of their files.
    QList<StoredFile> storedFilesUnder(const QString &root);
    // Sets the file stamps of stored tracks (by objectID), then saves.
    void recordFileStamps(const QHash<qint64, FileStamp> &stamps);
    // The stored track's file moved to `path`; then saves.
    void moveTrack(qint64 objectID, const QString &path, const FileStamp &stamp);
    // The stored track's file was written over by another's; it keeps its
    // record without a file.
    void detachFile(qint64 objectID);
    // Files known to hold the bytes of a stored track elsewhere, by path;
    // kept across program starts, so that they are not read again.
    QHash<QString, KnownDuplicate> knownDuplicates();
    void rememberDuplicate(const QString &path, const KnownDuplicate &duplicate);
    void forgetDuplicates(const QList<QString> &paths);
    // The stored tracks that replaced an earlier version whose cloud item is
    // still to be retired.
    QList<AudioPtr> tracksToRetire();
    // The stored tracks whose `downloadable` is the value (absent: never
    // answered), by name; one query, however large the store.
    QList<AudioPtr> tracksByDownloadable(std::optional<bool> downloadable);
    // The stored track with this objectID; nullptr when there is none.
    AudioPtr getByObjectID(qint64 objectID);
    // The User whose username sorts last; nullptr (logged) when there is none.
    UserPtr getUserFromDB();

    // --- changes ---
    // Inserts the record when the store does not hold it yet (it becomes
    // stored: objectID set), else writes its fields; then saves.
    template <typename R> void save(const std::shared_ptr<R> &record);
    template <typename R> void save(const std::shared_ptr<R> &record, StoreContext *context);
    // Deletes the stored record (nothing for nullptr), then saves.
    template <typename R> void delete_(const std::shared_ptr<R> &record);
    template <typename R> void delete_(const std::shared_ptr<R> &record, StoreContext *context);
    // Deletes the first result of the named query with {pkColumn: pkValue};
    // does not save.
    void deleteEntity(const QString &entityName, const QString &pkColumn, const QVariant &pkValue,
                      const QString &fetchRequestName);
    void deleteEntity(const QString &entityName, const QString &pkColumn, const QVariant &pkValue,
                      const QString &fetchRequestName, StoreContext *context);
    // Deletes every record of the entity, then saves (even when there were none).
    void deleteAll(const QString &entityName);

    // --- catalogue ---
    // Stores a copy of the detached track unless an Audio with its checksum
    // is stored already. Answers true for such a duplicate (the caller keeps
    // it among the known duplicates), false otherwise. A new version of a
    // stored track (`previousObjectID`) takes that track's place in the same
    // save, and keeps its cloud item as the one to retire.
    bool addTrackToDB(const AudioPtr &track, bool withSave);
    void resetAllTracksInDB();
    // Sets the fingerPrintID of the Audio with that checksum and saves.
    void addEchoNestID(const QString &checksum, const QString &withEchoNestID);
    // Logs every stored track.
    void showTracksInDB();
    // Replaces the store file by an empty store (the database reset).
    void resetDB();

private:
    StoreSetup &m_setup;
};

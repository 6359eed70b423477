#pragma once

#include "Guarded.h"
#include "store/Audio.h"
#include "store/RunContext.h"
#include "store/TrackFiles.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

// One sync, from its start to its end: the account it was started for (its
// run context, kept to the end whatever happens to the sign-in meanwhile),
// whether it has been told to stop, and what its stages leave for each
// other: the scan's findings, the cloud listing and its position, the
// download folder. Every stage of the sync, and every
// transfer it starts, works for this run only: a stop, a log-out or a newer
// sync that replaces it ends all of them, not only the one that polls first,
// and no run ever sees another run's lists.
//
// The lists may be read and written from any thread; they are handed out as
// copies (records by shared reference).
class SyncRun : public QObject {
    Q_OBJECT
public:
    // What a scan found: the tracks that may need work and, since a folder
    // walk leaves out the files that are stored tracks already, the count of
    // all the music it found; and the stored tracks whose files it found
    // gone, with no file new to it accounting for them.
    struct LocalLibrary {
        QList<AudioPtr> tracks;
        qsizetype found = 0;
        QList<StoredFile> gone;
    };
    // Where the run starts: the session's listing position (the cloud
    // listing names the changes after it) and the download folder.
    struct Start {
        qint64 listingPosition = 0;
        QString downloadFolder;
    };

    explicit SyncRun(RunContext context);
    SyncRun(RunContext context, Start start);

    const RunContext &context() const { return m_context; }
    bool isStopped() const { return m_stopped.load(); }
    // Any thread; the first call emits `stopped`.
    void stop();

    // ---- the scan's findings
    LocalLibrary localLibrary() const { return m_localLibrary.get(); }
    void setLocalLibrary(LocalLibrary library) { m_localLibrary.set(std::move(library)); }
    QList<AudioPtr> localLibraryTracks() const { return m_localLibrary.get().tracks; }
    qsizetype localLibraryTrackCount() const { return m_localLibrary.get().found; }
    QList<StoredFile> goneLibraryTracks() const { return m_localLibrary.get().gone; }
    // The tracks, all of them counted as found.
    void setLocalLibraryTracks(const QList<AudioPtr> &tracks);
    // Adds tracks found by a scan, among `found` music files.
    void addLocalLibraryTracks(const QList<AudioPtr> &tracks, qsizetype found);
    // What is left for work once the findings were weighed against the store
    // (the count of music found stays).
    void settleLocalLibrary(const QList<AudioPtr> &tracks, const QList<StoredFile> &gone);

    // ---- the cloud listing
    QList<AudioPtr> cloudLibraryTracks() const { return m_cloudLibraryTracks.get(); }
    void setCloudLibraryTracks(const QList<AudioPtr> &tracks) { m_cloudLibraryTracks.set(tracks); }
    // The session's position the run began from.
    qint64 startListingPosition() const { return m_startListingPosition; }
    // Where the run's next listing starts: the session's position at first,
    // the listing's own once it was taken, back at the start when songs it
    // named were not downloaded (so that they are listed again).
    qint64 listingPosition() const { return m_listingPosition.load(); }
    void setListingPosition(qint64 position) { m_listingPosition = position; }

    QString downloadFolder() const { return m_downloadFolder; }

signals:
    // The transfers of the run connect here to end at once.
    void stopped();

private:
    const RunContext m_context;
    std::atomic<bool> m_stopped{false};
    Guarded<LocalLibrary> m_localLibrary;
    Guarded<QList<AudioPtr>> m_cloudLibraryTracks;
    const qint64 m_startListingPosition;
    std::atomic<qint64> m_listingPosition;
    const QString m_downloadFolder;
};

using SyncRunPtr = std::shared_ptr<SyncRun>;

#include "SyncRun.h"

SyncRun::SyncRun(RunContext context)
    : SyncRun(std::move(context), Start{}) {}

SyncRun::SyncRun(RunContext context, Start start)
    : m_context(std::move(context))
    , m_startListingPosition(start.listingPosition)
    , m_listingPosition(start.listingPosition)
    , m_downloadFolder(std::move(start.downloadFolder)) {}

void SyncRun::stop() {
    if (!m_stopped.exchange(true))
        emit stopped();
}

void SyncRun::setLocalLibraryTracks(const QList<AudioPtr> &tracks) {
    m_localLibrary.set({tracks, tracks.size(), {}});
}

void SyncRun::addLocalLibraryTracks(const QList<AudioPtr> &tracks, qsizetype found) {
    m_localLibrary.update([&](LocalLibrary &l) {
        l.tracks += tracks;
        l.found += found;
    });
}

void SyncRun::settleLocalLibrary(const QList<AudioPtr> &tracks, const QList<StoredFile> &gone) {
    m_localLibrary.update([&](LocalLibrary &l) {
        l.tracks = tracks;
        l.gone = gone;
    });
}

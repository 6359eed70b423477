#pragma once

#include "sync/GraceNote.h"
#include "sync/MusicLibrary.h"

#include <memory>

class Sonarbox;
class SyncState;
class ScanForLocalMedia;
class iTunesModifier;
class DownloadSongsFromCloud;
class UploadFilesToCloud;

// What the stages are handed instead of reaching for it.
struct SyncDependencies {
    // The music player's library (library choice 1); none: MPD as the
    // deployment configuration says.
    MusicLibraryPtr musicLibrary;
    // The recognition call; none: libtonemill's tonemill_doGraceNote.
    GraceNote::Recognize recognize = nullptr;
    // The coordinator whose state the stages work on; none: the program's.
    Sonarbox *coordinator = nullptr;
};

// The stages of a sync, built once and installed as the coordinator's stage
// bodies. Create it on the main thread (the transfers live there) and keep it
// for as long as syncs may run; destroying it puts the placeholders back.
class SyncEngine {
public:
    explicit SyncEngine(SyncDependencies dependencies = {});
    ~SyncEngine();
    SyncEngine(const SyncEngine &) = delete;
    SyncEngine &operator=(const SyncEngine &) = delete;

    void install(Sonarbox &coordinator);
    // The engine installed last and still there, or none (a sync's preview
    // runs on its stages).
    static SyncEngine *installed();

    ScanForLocalMedia &scanner() { return *m_scan; }
    GraceNote &graceNote() { return *m_graceNote; }
    iTunesModifier &handOff() { return *m_handOff; }
    DownloadSongsFromCloud &downloader() { return *m_download; }
    UploadFilesToCloud &uploader() { return *m_upload; }
    MusicLibraryPtr musicLibrary() const { return m_library; }

private:
    SyncState &m_state;
    Sonarbox *m_installedIn = nullptr;
    MusicLibraryPtr m_library;
    std::unique_ptr<ScanForLocalMedia> m_scan;
    std::unique_ptr<GraceNote> m_graceNote;
    std::unique_ptr<iTunesModifier> m_handOff;
    std::unique_ptr<DownloadSongsFromCloud> m_download;
    std::unique_ptr<UploadFilesToCloud> m_upload;
};

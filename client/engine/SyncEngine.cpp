#include "SyncEngine.h"

#include "Sonarbox.h"
#include "sync/DownloadSongsFromCloud.h"
#include "sync/MpdLibrary.h"
#include "sync/ScanForLocalMedia.h"
#include "sync/UploadFilesToCloud.h"
#include "sync/iTunesModifier.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>

namespace {

std::atomic<SyncEngine *> g_installed{nullptr};

} // namespace

SyncEngine *SyncEngine::installed() {
    return g_installed.load();
}

SyncEngine::SyncEngine(SyncDependencies dependencies)
    : m_state(dependencies.coordinator ? *dependencies.coordinator : Sonarbox::instance())
    , m_library(dependencies.musicLibrary ? dependencies.musicLibrary
                                          : std::make_shared<MpdLibrary>(
                                                MpdLibrary::fromDeployment(m_state.deployment())))
    , m_scan(std::make_unique<ScanForLocalMedia>(m_state, m_library))
    , m_graceNote(std::make_unique<GraceNote>(m_state, dependencies.recognize))
    , m_handOff(std::make_unique<iTunesModifier>(m_library))
    , m_download(std::make_unique<DownloadSongsFromCloud>(m_state, m_handOff.get()))
    , m_upload(std::make_unique<UploadFilesToCloud>(m_state)) {}

SyncEngine::~SyncEngine() {
    SyncEngine *self = this;
    g_installed.compare_exchange_strong(self, nullptr);
    if (!m_installedIn)
        return;
    // A running stage may be waiting for this (the main) thread, where the
    // transfers start: keep its events turning while the queue drains, or
    // both would wait for ever.
    StageQueue &queue = m_installedIn->operationQueue();
    while (queue.operationCount() > 0) {
        if (QCoreApplication::instance() &&
            QThread::currentThread() == QCoreApplication::instance()->thread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        else
            QThread::msleep(5);
    }
    m_installedIn->setStages(m_installedIn->placeholderStages());
}

void SyncEngine::install(Sonarbox &coordinator) {
    Sonarbox::Stages stages;
    stages.scanFileSystemForMedia = [this](const SyncRunPtr &run, Sonarbox::Completion completion) {
        m_scan->scanFileSystemForMedia(run, completion);
    };
    stages.fingderPrintLocalMediaFiles = [this](const SyncRunPtr &run,
                                                Sonarbox::Completion completion) {
        m_graceNote->fingderPrintLocalMediaFiles(run, completion);
    };
    stages.syncCloudMediaWithLocal = [this](const SyncRunPtr &run,
                                            Sonarbox::Completion completion) {
        m_download->syncCloudMediaWithLocal(run, completion);
    };
    stages.uploadUnSyncedFiles = [this](const SyncRunPtr &run, Sonarbox::Completion completion) {
        m_upload->uploadUnSyncedFiles(run, completion);
    };
    stages.setAmoundOfSongsFingerprinted = [this](int amount) {
        m_graceNote->setAmoundOfSongsFingerprinted(amount);
    };
    coordinator.setStages(std::move(stages));
    m_installedIn = &coordinator;
    g_installed = this;
}

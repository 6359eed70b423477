#pragma once

#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "settings/NSDefaultsUtility.h"
#include "store/StoreSetup.h"
#include "sync/LoginItems.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>

// Records what the coordinator reports to the status menu.
class RecordingMenu : public StatusMenu {
public:
    QStringList calls() const {
        std::lock_guard g(lock);
        return m_calls;
    }
    void clear() {
        std::lock_guard g(lock);
        m_calls.clear();
    }
    void statusMenuSyncStarted() override { add("SyncStarted"); }
    void statusMenuFingerPrintStarted() override { add("FingerPrintStarted"); }
    void statusMenuUploadStarted() override { add("UploadStarted"); }
    void statusMenuDownloadStarted() override { add("DownloadStarted"); }
    void statusMenuSyncStopped() override { add("SyncStopped"); }
    void statusMenuSyncFinished() override { add("SyncFinished"); }
    void statusMenuShowOffline() override { add("ShowOffline"); }
    void statusMenuShowBackOnline() override { add("ShowBackOnline"); }

private:
    void add(const char *c) {
        std::lock_guard g(lock);
        m_calls << QLatin1String(c);
    }
    mutable std::mutex lock;
    QStringList m_calls;
};

// A fresh coordinator over fresh preferences and an empty store, with stages
// that record their order and do what the test asks.
class CoordinatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        NSDefaultsUtility::setStorageFile(dir.filePath("prefs.conf"));
        StoreSetup::setStoreFolder(dir.filePath("store"));
        QDir(LoginItems::autostartDirectory()).removeRecursively();
        Sonarbox &s = sonarbox();
        s.operationQueue().waitUntilAllOperationsAreFinished();
        s.setStatusMenu(&menu);
        s.setStages(recordingStages());
        s.setStatusReporter({});
        s.setTimedSyncInterval(3600 * 1000);
        s.reinitialize();
    }
    void TearDown() override {
        Sonarbox &s = sonarbox();
        s.operationQueue().waitUntilAllOperationsAreFinished();
        QCoreApplication::processEvents();
        s.setStatusMenu(nullptr);
        s.setStages(Sonarbox::instance().placeholderStages());
        s.setUrlOpener({});
        s.setFolderChooser({});
        s.reinitialize();
        NSDefaultsUtility::setStorageFile(QString());
    }

    static Sonarbox &sonarbox() { return Sonarbox::instance(); }

    // Each stage records its name; `stopIn` names a stage during which the
    // user presses Stop, after which the stage polls the flag as real ones do.
    Sonarbox::Stages recordingStages() {
        const auto stage = [this](const char *name) {
            return [this, name](const SyncRunPtr &run, Sonarbox::Completion completion) {
                {
                    std::lock_guard g(lock);
                    ran << QLatin1String(name);
                }
                if (stopIn == QLatin1String(name))
                    sonarbox().stopSyncAction();
                if (sonarbox().stopRequested(*run)) {
                    sonarbox().applicationWasStopped();
                    return;
                }
                completion();
            };
        };
        Sonarbox::Stages stages;
        stages.scanFileSystemForMedia = stage("scan");
        stages.fingderPrintLocalMediaFiles = stage("fingerprint");
        stages.syncCloudMediaWithLocal = stage("download");
        stages.uploadUnSyncedFiles = stage("upload");
        stages.setAmoundOfSongsFingerprinted = [this](int n) { fingerprintedReset = n; };
        return stages;
    }

    QStringList stagesRun() {
        std::lock_guard g(lock);
        return ran;
    }

    // Lets the stage queue and then the main thread's queued calls finish.
    void settle() {
        sonarbox().operationQueue().waitUntilAllOperationsAreFinished();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    RecordingMenu menu;
    std::mutex lock;
    QStringList ran;
    QString stopIn;
    int fingerprintedReset = -1;
};

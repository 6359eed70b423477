#pragma once

#include "ServiceTestSupport.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"
#include "sync/DesktopNotifier.h"

#include <QDir>
#include <QFile>
#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>

// The track and the share done that the coordinator's progress model shows,
// each change once, as "song / artist percentage".
class ShownProgress {
public:
    ShownProgress() {
        SyncProgress &progress = Sonarbox::instance().syncProgress();
        QObject::connect(
            &progress, &SyncProgress::changed, &m_context,
            [this, &progress] {
                const SyncProgress::State s = progress.state();
                const QString line =
                    QStringLiteral("%1 / %2 %3").arg(s.song, s.artist, s.percentage);
                if (m_lines.isEmpty() || m_lines.last() != line)
                    m_lines << line;
            },
            Qt::DirectConnection);
    }
    std::string joined() const { return m_lines.join(QStringLiteral(" | ")).toStdString(); }

private:
    QObject m_context; // the connection ends with it
    QStringList m_lines;
};

// A fresh coordinator, preferences and store, a scripted gateway, and the
// desktop notifications that were shown.
class TransferTest : public ServiceFixture {
protected:
    void SetUp() override {
        NSDefaultsUtility::setStorageFile(dir.filePath(QStringLiteral("prefs.conf")));
        StoreSetup::setStoreFolder(dir.filePath(QStringLiteral("store")));
        ServiceFixture::SetUp();
        Sonarbox &s = Sonarbox::instance();
        s.settings_showNotifications = true;
        s.setUserDownloadDirectory(dir.filePath(QStringLiteral("downloads")));
        s.setUserPickedMediaLibrary(LibraryChoice::MusicFolder);
        s.syncProgress().beginSync();
        DesktopNotifier::setFallback(
            [this](const QString &title, const QString &) { notifications << title; });
    }
    void TearDown() override {
        DesktopNotifier::setFallback({});
        ServiceFixture::TearDown();
        StoreSetup::setStoreFolder(QString());
        NSDefaultsUtility::setStorageFile(QString());
    }

    // Runs a stage as the stage queue does, on another thread while this one
    // serves the transfers, until `done` holds (by default: the completion
    // was called), then a little longer to catch anything that follows.
    // Answers how often the completion was called.
    int runStage(const std::function<void(std::function<void()>)> &stage,
                 std::function<bool()> done = {}) {
        auto completions = std::make_shared<std::atomic<int>>(0);
        QFuture<void> entry = QtConcurrent::run([=] { stage([completions] { ++*completions; }); });
        if (!done)
            done = [completions] { return completions->load() > 0; };
        TestEnvironment::waitUntil([&] { return entry.isFinished() && done(); }, 30000);
        TestEnvironment::waitUntil([] { return false; }, 300);
        entry.waitForFinished();
        return completions->load();
    }

    // The account the tests sign in with (the same as sonarbox-cloud's test user).
    static UserPtr ada() {
        auto user = std::make_shared<User>();
        user->username = QStringLiteral("ada@example.com");
        user->password = QStringLiteral("s3cret!");
        user->deviceId = Sonarbox::instance().deviceID();
        return user;
    }

    static void writeFile(const QString &path, const QByteArray &content) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    static QByteArray readFile(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // The resident memory of this process, in MiB.
    static double residentMiB() {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
        return 0;
    }

    QTemporaryDir dir;
    QStringList notifications;
};

#include "ChangeWatcher.h"

#include "Sonarbox.h"
#include "SyncEngine.h"
#include "settings/Logging.h"
#include "sync/FolderWatcher.h"
#include "sync/ScanForLocalMedia.h"

namespace {

ChangeSettler::TimePoint now() {
    return ChangeSettler::Clock::now();
}

} // namespace

ChangeWatcher::ChangeWatcher(Sonarbox &coordinator, SyncEngine &engine, QObject *parent)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_scanner(engine.scanner())
    , m_library(engine.musicLibrary())
    , m_folders(std::make_unique<FolderWatcher>())
    , m_settler(DefaultQuiet, DefaultLongest) {
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, &ChangeWatcher::settle);
    connect(m_folders.get(), &FolderWatcher::changed, this, &ChangeWatcher::changed,
            Qt::QueuedConnection);
    connect(m_folders.get(), &FolderWatcher::writing, this, &ChangeWatcher::writing,
            Qt::QueuedConnection);
    connect(&m_coordinator, &Sonarbox::syncStateChanged, this, &ChangeWatcher::syncStateChanged,
            Qt::QueuedConnection);
    connect(&m_coordinator, &Sonarbox::libraryChoiceChanged, this, &ChangeWatcher::follow,
            Qt::QueuedConnection);
}

ChangeWatcher::~ChangeWatcher() {
    // The watches' threads end first: nothing reports to a watcher being torn down.
    if (m_started) {
        m_scanner.setLeaveFilesWrittenWithin(std::chrono::milliseconds(0));
        m_scanner.setChangeJournal({});
    }
    m_libraryWatch.reset();
    m_folders.reset();
}

void ChangeWatcher::start() {
    m_started = true;
    m_scanner.setLeaveFilesWrittenWithin(m_stillWritten);
    // A tree the watcher has seen unchanged since the last scan is not walked.
    m_scanner.setChangeJournal(m_folders->journal());
    follow();
}

void ChangeWatcher::setSettleTimes(std::chrono::milliseconds quiet,
                                   std::chrono::milliseconds longest) {
    m_settler.setIntervals(quiet, longest);
    schedule();
}

void ChangeWatcher::setStillWrittenAge(std::chrono::milliseconds age) {
    m_stillWritten = age;
    if (m_started)
        m_scanner.setLeaveFilesWrittenWithin(age);
}

void ChangeWatcher::follow() {
    if (!m_started)
        return;
    const bool player = m_coordinator.userPickedMediaLibrary() == LibraryChoice::MusicPlayer;
    const QStringList roots = ScanForLocalMedia::foldersToWalk(m_coordinator);
    if (roots != m_roots) {
        m_roots = roots;
        if (!roots.isEmpty())
            qCInfo(lcSync).noquote() << "Watching for changes:" << roots.join(QStringLiteral(", "));
        m_folders->watch(roots);
    }
    if (player && !m_libraryWatch && m_library) {
        // Called on the watch's thread; counted here.
        m_libraryWatch = m_library->watchChanges([this] {
            QMetaObject::invokeMethod(this, &ChangeWatcher::changed, Qt::QueuedConnection);
        });
    } else if (!player) {
        m_libraryWatch.reset();
    }
}

void ChangeWatcher::changed() {
    m_settler.changed(now());
    schedule();
}

void ChangeWatcher::writing(const QString &file, bool open) {
    if (open)
        m_settler.opened(file, now());
    else
        m_settler.closed(file, now());
    schedule();
}

void ChangeWatcher::syncStateChanged() {
    const bool running = m_coordinator.syncInProgress.load();
    if (running) {
        m_settler.syncStarted();
    } else {
        m_settler.syncEnded();
        // Files that were still being written are synced once they have
        // settled, like any other change.
        if (const qsizetype left = m_scanner.takeFilesStillWritten(); left > 0) {
            qCInfo(lcSync).noquote()
                << QStringLiteral("%1 files were still being written: they wait for the next sync")
                       .arg(left);
            m_settler.changed(now());
        }
    }
    schedule();
}

void ChangeWatcher::schedule() {
    const std::optional<ChangeSettler::TimePoint> due = m_settler.dueAt();
    if (!due) {
        m_due.stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - now());
    m_due.start(std::max<qint64>(0, wait.count()));
}

void ChangeWatcher::settle() {
    // A sync started meanwhile by someone else: these changes follow its end.
    if (m_coordinator.syncInProgress) {
        m_settler.syncStarted();
        return;
    }
    if (!m_settler.takeDue(now())) {
        schedule();
        return;
    }
    qCInfo(lcSync) << "=== Changes in the music have settled: syncing";
    emit syncRequested();
    // The one place where this asks whether a sync may start: the hourly
    // timer's own call.
    m_coordinator.executeTimedSync();
    if (m_coordinator.syncInProgress)
        m_settler.syncStarted();
    schedule();
}

#include "StoreContext.h"

#include "StoreError.h"
#include "StoreSchema.h"
#include "StoreSetup.h"
#include "StoreThread.h"
#include "settings/Logging.h"
#include "settings/Utils.h"

#include <QAtomicInteger>
#include <QFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>

#include <sqlite3.h>

namespace {

QString nextConnectionName() {
    static QAtomicInteger<int> counter;
    return QStringLiteral("sonarbox.store.%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

sqlite3 *sqliteHandle(const QSqlDatabase &db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3 *const *>(handle.data());
    return nullptr;
}

// Names sort case-insensitively over all of Unicode, not only ASCII.
int compareNoCase(void *, int leftBytes, const void *left, int rightBytes, const void *right) {
    const QStringView a(static_cast<const char16_t *>(left), leftBytes / 2);
    const QStringView b(static_cast<const char16_t *>(right), rightBytes / 2);
    return a.compare(b, Qt::CaseInsensitive);
}

void addCollation(const QSqlDatabase &db) {
    if (sqlite3 *handle = sqliteHandle(db)) {
        sqlite3_create_collation_v2(handle, "UNICODE_NOCASE", SQLITE_UTF16_ALIGNED, nullptr,
                                    compareNoCase, nullptr);
    }
}

int nativeCode(const QSqlError &error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code : 1;
}

} // namespace

StoreContext::StoreContext(StoreSetup &setup, QString path, QString connection)
    : m_setup(&setup)
    , m_path(std::move(path))
    , m_connection(std::move(connection)) {}

StoreContext::~StoreContext() {
    closeConnection();
}

std::unique_ptr<StoreContext> StoreContext::open(StoreSetup &setup, const QString &path,
                                                 int busyTimeoutMs, AppError *error) {
    std::unique_ptr<StoreContext> context(new StoreContext(setup, path, nextConnectionName()));
    if (auto failure = context->openConnection(busyTimeoutMs)) {
        if (error) {
            *error =
                AppError{StoreSetup::ErrorDomain, StoreSetup::StoreOpenFailed,
                         QStringLiteral("The store %1 could not be opened.").arg(path), *failure};
        }
        return nullptr;
    }
    return context;
}

std::optional<QString> StoreContext::openConnection(int busyTimeoutMs) {
    m_busyTimeoutMs = busyTimeoutMs;
    // Every handle and query of the attempt is gone before the connection is removed.
    auto failure = prepareConnection(busyTimeoutMs);
    if (failure)
        closeConnection();
    return failure;
}

std::optional<QString> StoreContext::prepareConnection(int busyTimeoutMs) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(m_path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        if (!db.open())
            return db.lastError().text();
        addCollation(db);
        // Read and check the whole file before writing anything: a file that
        // is no store, or a damaged store, must stay exactly as it is.
        {
            QSqlQuery check(db);
            if (!check.exec(QStringLiteral("PRAGMA quick_check(1)")) || !check.next())
                return check.lastError().text();
            const QString verdict = check.value(0).toString();
            if (verdict != QLatin1String("ok"))
                return QStringLiteral("the store is damaged: %1").arg(verdict);
        }
        if (auto failure = chooseJournal(db))
            return failure;
        if (auto failure = StoreSchema::ensure(db))
            return *failure;
    }
    return std::nullopt;
}

std::optional<QString> StoreContext::chooseJournal(QSqlDatabase &db) {
    // Write-ahead log with a sync at each checkpoint rather than at every
    // commit: a per-commit fsync caps the catalogue at a few hundred tracks a
    // second. A crash of the program loses nothing committed; a power failure
    // can undo the commits since the last checkpoint, never the store's
    // consistency. Checkpoints run every 1000 pages, at the save command, at
    // quit and at close.
    QString unusable;
    {
        QSqlQuery pragma(db);
        if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !pragma.next())
            return pragma.lastError().text();
        const QString mode = pragma.value(0).toString();
        pragma.finish();
        if (mode != QLatin1String("wal")) {
            unusable = QStringLiteral("journal mode %1").arg(mode);
        } else if (!pragma.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            // The log needs memory shared through the "-shm" file; where the
            // file system offers none, SQLite still switches but every write fails.
            const QSqlError error = pragma.lastError();
            const int code = error.nativeErrorCode().toInt() & 0xff;
            if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
                return error.text();
            unusable = error.text();
        } else {
            pragma.exec(QStringLiteral("ROLLBACK"));
            m_writeAheadLog = true;
            if (!pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
                return pragma.lastError().text();
            return std::nullopt;
        }
    }

    // Back to the rollback journal. Leaving the log needs its index, which a
    // connection in exclusive locking mode keeps in its own memory instead of
    // "-shm", provided that mode is set before it first reads: a new connection.
    db.close();
    if (!db.open())
        return db.lastError().text();
    addCollation(db);
    for (const char *sql : {"PRAGMA locking_mode=EXCLUSIVE", "PRAGMA journal_mode=DELETE",
                            "PRAGMA locking_mode=NORMAL", "PRAGMA synchronous=FULL",
                            "SELECT count(*) FROM sqlite_master"}) {
        QSqlQuery pragma(db);
        QString failure;
        if (!pragma.exec(QLatin1String(sql)))
            failure = pragma.lastError().text();
        else if (qstrcmp(sql, "PRAGMA journal_mode=DELETE") == 0 &&
                 (!pragma.next() || pragma.value(0).toString() != QLatin1String("delete")))
            failure = QStringLiteral("journal mode %1").arg(pragma.value(0).toString());
        if (!failure.isEmpty())
            return QStringLiteral("the store can keep neither a write-ahead log (%1) nor a "
                                  "rollback journal (%2)")
                .arg(unusable, failure);
    }
    m_writeAheadLog = false;
    qCWarning(lcStore).noquote()
        << QStringLiteral("The store %1 cannot keep a write-ahead log here (%2); it uses a "
                          "rollback journal instead, and every save waits for the disk.")
               .arg(m_path, unusable);
    return std::nullopt;
}

void StoreContext::closeConnection() {
    m_statements.clear();
    m_pending = false;
    m_afterCommit.clear();
    if (QSqlDatabase::contains(m_connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            if (db.isOpen()) {
                // Closing a connection with an open transaction drops the
                // unsaved changes, as forgetting a context does. The last
                // connection to close checkpoints the log into the store.
                db.rollback();
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
}

QSqlDatabase StoreContext::database() const {
    return QSqlDatabase::database(m_connection, false);
}

QSqlQuery &StoreContext::statement(const QString &sql) {
    auto &slot = m_statements[sql];
    if (!slot) {
        auto query = std::make_shared<QSqlQuery>(database());
        query->setForwardOnly(true);
        if (!query->prepare(sql))
            throw StoreError(query->lastError());
        slot = query;
    }
    return *slot;
}

void StoreContext::exec(QSqlQuery &query) {
    if (!query.exec()) {
        const QSqlError error = query.lastError();
        query.finish();
        syncPendingState();
        throw StoreError(error);
    }
}

void StoreContext::beginChanges() {
    if (m_pending)
        return;
    QSqlDatabase db = database();
    if (!db.transaction())
        throw StoreError(db.lastError());
    m_pending = true;
}

void StoreContext::afterCommit(std::function<void()> work) {
    m_afterCommit.push_back(std::move(work));
}

void StoreContext::syncPendingState() {
    // SQLite rolls a transaction back by itself after some failures (a full
    // disk, an I/O error); the context must not claim changes it has lost.
    if (sqlite3 *handle = sqliteHandle(database()))
        m_pending = sqlite3_get_autocommit(handle) == 0;
    if (!m_pending)
        m_afterCommit.clear();
}

bool StoreContext::hasChanges() const {
    return StoreThread::instance().call([this] { return m_pending; });
}

bool StoreContext::save(AppError *error) {
    bool committed = false;
    const bool saved = StoreThread::instance().call([&] {
        if (!m_pending)
            return true;
        QSqlDatabase db = database();
        if (!db.commit()) {
            const QSqlError failure = db.lastError();
            syncPendingState();
            if (error) {
                *error =
                    AppError{StoreSetup::ErrorDomain, nativeCode(failure),
                             QStringLiteral("The changes could not be saved."), failure.text()};
            }
            return false;
        }
        m_pending = false;
        committed = true;
        std::vector<std::function<void()>> work;
        work.swap(m_afterCommit);
        for (const auto &step : work)
            step();
        return true;
    });
    if (committed)
        m_setup->notifyDidSave();
    return saved;
}

bool StoreContext::checkpoint(Checkpoint kind) {
    return StoreThread::instance().call([this, kind] {
        if (!m_writeAheadLog)
            return true; // every save went straight into the store file
        QSqlQuery query(database());
        return query.exec(kind == Checkpoint::WholeLog
                              ? QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")
                              : QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
    });
}

void StoreContext::reset() {
    StoreThread::instance().run([this] {
        if (!m_pending)
            return;
        for (auto &query : m_statements)
            query->finish();
        database().rollback();
        m_pending = false;
        m_afterCommit.clear();
    });
}

std::optional<QString> StoreContext::recreate(bool *removed) {
    return StoreThread::instance().call([&]() -> std::optional<QString> {
        *removed = false;
        closeConnection();
        *removed = true;
        for (const QString &file :
             {m_path, m_path + QStringLiteral("-wal"), m_path + QStringLiteral("-shm"),
              m_path + QStringLiteral("-journal")}) {
            if (QFile::exists(file) && !QFile::remove(file))
                return QStringLiteral("could not delete %1").arg(file);
        }
        m_connection = nextConnectionName();
        return openConnection(m_busyTimeoutMs);
    });
}

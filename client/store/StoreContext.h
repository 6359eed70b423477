#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct AppError;
class StoreSetup;

// A store's one context: an open connection to the store file plus the
// changes made through it and not yet saved. Changes are held in an
// open SQLite transaction, so every fetch through the context already sees
// them, `hasChanges()` says whether there are any, and `save` commits them.
//
// The public operations may be called from any thread (they run on the store
// thread); the statement helpers are for code already running there.
class StoreContext {
public:
    ~StoreContext();
    StoreContext(const StoreContext &) = delete;
    StoreContext &operator=(const StoreContext &) = delete;

    // Opens the store file at `path` (store thread only). The file is read
    // and checked before anything is written to it: a file that is not a
    // store, or a damaged one, is reported and left untouched.
    static std::unique_ptr<StoreContext> open(StoreSetup &setup, const QString &path,
                                              int busyTimeoutMs, AppError *error);

    // The store this context belongs to: told of every save, and keeper of
    // the secrets of the accounts saved through it.
    StoreSetup &setup() const { return *m_setup; }

    // Whether there are unsaved changes.
    bool hasChanges() const;
    // Commits the unsaved changes; true when there were none. On failure the
    // changes stay pending when the database kept them.
    bool save(AppError *error = nullptr);
    enum class Checkpoint {
        Passive,  // what the log can give without waiting for anyone
        WholeLog, // everything, and the log emptied: the store file alone holds all
    };
    // Makes every saved change durable against a power failure (a
    // checkpoint of the write-ahead log; nothing to do with a rollback journal).
    bool checkpoint(Checkpoint kind = Checkpoint::Passive);
    // Whether the store keeps a write-ahead log (else a rollback journal,
    // where the file system offers no shared memory).
    bool writeAheadLog() const { return m_writeAheadLog; }
    // Forgets the unsaved changes.
    void reset();
    // The store file this context writes to.
    QString path() const { return m_path; }
    QString connectionName() const { return m_connection; }

    // Removes the store and creates an empty one at the same file: the
    // database reset. Returns the error text of the step that failed;
    // `removed` tells whether the old store was already removed then.
    std::optional<QString> recreate(bool *removed);

    // --- store thread only ---
    QSqlDatabase database() const;
    // A prepared statement for `sql`, kept for the life of the connection.
    QSqlQuery &statement(const QString &sql);
    // Runs a prepared statement; throws StoreError on failure.
    void exec(QSqlQuery &query);
    // Opens the pending transaction if there is none; throws StoreError.
    void beginChanges();
    // Work that belongs to the pending changes outside the database (the
    // account's secrets): done when they are saved, dropped when they are
    // forgotten.
    void afterCommit(std::function<void()> work);

private:
    StoreContext(StoreSetup &setup, QString path, QString connection);
    std::optional<QString> openConnection(int busyTimeoutMs);
    std::optional<QString> prepareConnection(int busyTimeoutMs);
    std::optional<QString> chooseJournal(QSqlDatabase &db);
    void closeConnection();
    void syncPendingState();

    StoreSetup *m_setup;
    QString m_path;
    QString m_connection;
    int m_busyTimeoutMs = 5000;
    bool m_pending = false;
    bool m_writeAheadLog = false;
    QHash<QString, std::shared_ptr<QSqlQuery>> m_statements;
    std::vector<std::function<void()>> m_afterCommit;
};

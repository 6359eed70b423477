#include "StoreFixture.h"

#include <QSqlError>
#include <QUuid>
#include <QVariant>

#include <atomic>

namespace {
std::mutex g_logLock;
QStringList g_lines;
std::atomic<QtMessageHandler> g_previous{nullptr};

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    {
        std::lock_guard lock(g_logLock);
        g_lines << message;
    }
    const QtMessageHandler previous = g_previous.load();
    if (qEnvironmentVariableIsSet("STORE_TEST_VERBOSE") && previous)
        previous(type, context, message);
}
} // namespace

void StoreLog::start() {
    {
        std::lock_guard lock(g_logLock);
        g_lines.clear();
    }
    g_previous = qInstallMessageHandler(collect);
}

void StoreLog::stop() {
    qInstallMessageHandler(g_previous);
}

QStringList StoreLog::lines() {
    std::lock_guard lock(g_logLock);
    return g_lines;
}

bool StoreLog::contains(const QString &text) {
    return count(text) > 0;
}

int StoreLog::count(const QString &text) {
    int found = 0;
    for (const QString &line : lines())
        found += line.contains(text) ? 1 : 0;
    return found;
}

void StoreTest::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    StoreLog::start();
    StoreSetup::setStoreFolder(folder());
    StoreSetup::setBusyTimeout(5000);
    SecretStore::instance().reset();
    Utils::setErrorPresenter([this](const AppError &error) {
        std::lock_guard lock(m_lock);
        m_presented << error;
        return false;
    });
}

void StoreTest::TearDown() {
    StoreSetup::setStoreFolder({});
    Utils::setErrorPresenter({});
    StoreLog::stop();
}

QList<AppError> StoreTest::presented() const {
    std::lock_guard lock(m_lock);
    return m_presented;
}

AudioPtr StoreTest::track(const QString &checksum, const QString &path,
                          const std::optional<QString> &name) {
    auto audio = std::make_shared<Audio>();
    audio->checksum = checksum;
    audio->fileURL = path;
    audio->name = name;
    audio->userMediaID = QStringLiteral("-1");
    audio->fingerPrintID = QStringLiteral("-1");
    audio->synced = 1;
    audio->downloaded = 0;
    audio->downloadable = false;
    return audio;
}

QStringList StoreTest::peek(const QString &sql, int column) const {
    const QString name = QUuid::createUuid().toString();
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(storeFile());
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql)) {
                while (query.next())
                    values << query.value(column).toString();
            } else {
                values << QStringLiteral("SQL ERROR: ") + query.lastError().text();
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return values;
}

QByteArray StoreTest::bytesOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#pragma once

#include "settings/Utils.h"
#include "store/GenericDAO.h"
#include "store/SecretStore.h"
#include "store/StoreContext.h"
#include "store/StoreSetup.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>

// Collects every log line of the process while a test runs.
class StoreLog {
public:
    static void start();
    static void stop();
    static QStringList lines();
    static bool contains(const QString &text);
    static int count(const QString &text);
};

// Every test gets its own store folder and records the errors presented.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString folder() const { return m_dir.path() + QStringLiteral("/Sonarbox"); }
    QString storeFile() const { return folder() + QStringLiteral("/Sonarbox.sqlite"); }
    QList<AppError> presented() const;

    // A detached track as the scanner builds it.
    static AudioPtr track(const QString &checksum, const QString &path,
                          const std::optional<QString> &name = QStringLiteral("Song.mp3"));
    // Runs `sql` on a second connection to the store file (what another
    // process would see: saved data only) and returns one column.
    QStringList peek(const QString &sql, int column = 0) const;
    static QByteArray bytesOf(const QString &path);

    GenericDAO &dao = GenericDAO::instance();
    QTemporaryDir m_dir;

private:
    mutable std::mutex m_lock;
    QList<AppError> m_presented;
};

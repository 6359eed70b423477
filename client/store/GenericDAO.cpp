#include "GenericDAO.h"

#include "DaoSupport.h"
#include "StoreContext.h"
#include "StoreQueries.h"
#include "StoreSetup.h"
#include "settings/Logging.h"
#include "settings/Utils.h"

using namespace DaoSupport;
using StoreQueries::Order;

GenericDAO &GenericDAO::instance() {
    // A function-local static is created once even when first calls race.
    static GenericDAO dao(StoreSetup::instance());
    return dao;
}

GenericDAO::GenericDAO(StoreSetup &setup)
    : m_setup(setup) {}

template <typename R> std::shared_ptr<R> GenericDAO::uniqueResult() {
    return onStore(m_setup, [](StoreContext &context) {
        return guarded(QStringLiteral("Error on GenericDAO.uniqueResult"), [&] {
            auto records =
                withSecrets(context, StoreQueries::fetch<R>(context, {}, {}, Order::None, 1));
            return records.isEmpty() ? std::shared_ptr<R>() : records.first();
        });
    });
}

AudioPtr GenericDAO::getById(const QString &templateName, const QString &code) {
    return getById(templateName, code, QStringLiteral("checksum"), appContext(m_setup));
}

AudioPtr GenericDAO::getById(const QString &templateName, const QString &code,
                             StoreContext *context) {
    return getById(templateName, code, QStringLiteral("checksum"), context);
}

AudioPtr GenericDAO::getById(const QString &templateName, const QString &value,
                             const QString &column, StoreContext *context) {
    return onStore(m_setup, context, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.getById:checksum"), [&] {
            const auto records =
                StoreQueries::fetchTemplate(store, templateName, {{column, value}}, Order::None, 1);
            return records.isEmpty() ? AudioPtr() : records.first();
        });
    });
}

QList<AudioPtr> GenericDAO::search(const QString &templateName, const QVariantMap &params,
                                   int limit) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.search:params:limit"), [&] {
            return StoreQueries::fetchTemplate(store, templateName, params, Order::NameAscending,
                                               limit);
        });
    });
}

QList<AudioPtr> GenericDAO::search(const QString &templateName, const AudioPtr &model) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.search:model"), [&] {
            QVariantMap variables;
            if (model && model->userMediaID)
                variables.insert(QStringLiteral("checksum"), *model->userMediaID);
            return StoreQueries::fetchTemplate(store, templateName, variables,
                                               Order::NameAscending);
        });
    });
}

template <typename R> QList<std::shared_ptr<R>> GenericDAO::getAll() {
    return onStore(m_setup, [](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.getAll:"), [&] {
            // The account record has no name to sort on.
            constexpr Order order = std::is_same_v<R, User> ? Order::None : Order::NameAscending;
            return withSecrets(store, StoreQueries::fetch<R>(store, {}, {}, order));
        });
    });
}

int GenericDAO::getSize(const QString &entityName) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.getSize:"),
                       [&] { return StoreQueries::count(store, entityName); });
    });
}

int GenericDAO::getSizeUsingFetchRequest(const QString &templateName) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.getSizeUsingFetchRequest:"),
                       [&] { return StoreQueries::countTemplate(store, templateName, {}); });
    });
}

bool GenericDAO::isFileInDB(const QString &path) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.getById:checksum"), [&] {
            try {
                return StoreQueries::hasFile(store, path);
            } catch (const StoreError &error) {
                // A failed fetch is logged and answers NO.
                qCWarning(lcStore).noquote() << QStringLiteral("ERROR %1").arg(error.message());
                return false;
            }
        });
    });
}

QSet<QString> GenericDAO::storedFilePaths() {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.storedFilePaths"),
                       [&] { return StoreQueries::filePaths(store); });
    });
}

GenericDAO::TrackIndex GenericDAO::storedTrackIndex() {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.storedTrackIndex"), [&] {
            StoreQueries::TrackKeys keys = StoreQueries::trackKeys(store);
            return TrackIndex{std::move(keys.userMediaIDs), std::move(keys.byChecksum)};
        });
    });
}

QSet<QString> GenericDAO::storedAmong(const QList<QString> &paths) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.storedAmong"),
                       [&] { return StoreQueries::storedAmong(store, paths); });
    });
}

QHash<QString, SettledFolder> GenericDAO::settledFolders() {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.settledFolders"),
                       [&] { return StoreQueries::settledFolders(store); });
    });
}

qint64 GenericDAO::settledFolderCount(const QString &root) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.settledFolderCount"),
                       [&] { return StoreQueries::settledFolderCount(store, root); });
    });
}

void GenericDAO::recordScannedFolders(const QHash<QString, SettledFolder> &settled,
                                      const QList<QString> &unsettled) {
    onStore(m_setup, [&](StoreContext &store) {
        guarded(QStringLiteral("Error on GenericDAO.recordScannedFolders"), [&] {
            StoreQueries::recordScannedFolders(store, settled, unsettled);
            AppError error;
            if (!store.save(&error))
                qCWarning(lcStore).noquote() << QStringLiteral("ERROR %1").arg(describe(error));
        });
    });
}

QList<AudioPtr> GenericDAO::tracksByDownloadable(std::optional<bool> downloadable) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.tracksByDownloadable"), [&] {
            if (!downloadable)
                return StoreQueries::fetch<Audio>(store, QStringLiteral("\"downloadable\" IS NULL"),
                                                  {}, Order::NameAscending);
            return StoreQueries::fetch<Audio>(store, QStringLiteral("\"downloadable\" = ?"),
                                              {*downloadable ? 1 : 0}, Order::NameAscending);
        });
    });
}

AudioPtr GenericDAO::getByObjectID(qint64 objectID) {
    return onStore(m_setup, [&](StoreContext &store) {
        return guarded(QStringLiteral("Error on GenericDAO.getByObjectID"), [&] {
            const QList<AudioPtr> found = StoreQueries::fetch<Audio>(
                store, QStringLiteral("\"objectID\" = ?"), {objectID}, Order::None, 1);
            return found.isEmpty() ? AudioPtr() : found.first();
        });
    });
}

template <typename R> void GenericDAO::save(const std::shared_ptr<R> &record) {
    if (!record)
        return;
    onStore(m_setup, [&](StoreContext &store) {
        guarded(QStringLiteral("Error on GenericDAO.save:"), [&] {
            writeRecord(store, *record);
            AppError error;
            if (!store.save(&error))
                qCWarning(lcStore).noquote() << QStringLiteral("ERROR %1").arg(describe(error));
        });
    });
}

template <typename R>
void GenericDAO::save(const std::shared_ptr<R> &record, StoreContext *context) {
    if (!record)
        return;
    onStore(m_setup, context, [&](StoreContext &store) {
        guarded(QStringLiteral("Error on GenericDAO.save:context"), [&] {
            writeRecord(store, *record);
            store.save();
        });
    });
}

template <typename R> void GenericDAO::delete_(const std::shared_ptr<R> &record) {
    delete_(record, appContext(m_setup));
}

template <typename R>
void GenericDAO::delete_(const std::shared_ptr<R> &record, StoreContext *context) {
    if (!record)
        return;
    onStore(m_setup, context, [&](StoreContext &store) {
        guarded(QStringLiteral("Error on GenericDAO.delete:"), [&] {
            if (record->isStored()) {
                if constexpr (std::is_same_v<R, User>)
                    forgetSecretsOf(store, {*record});
                StoreQueries::remove(store, QLatin1String(RecordFields::Entity<R>::name),
                                     record->objectID);
            }
            AppError error;
            if (!store.save(&error))
                qCWarning(lcStore).noquote() << QStringLiteral("ERROR %1").arg(describe(error));
        });
    });
}

void GenericDAO::deleteEntity(const QString &entityName, const QString &pkColumn,
                              const QVariant &pkValue, const QString &fetchRequestName) {
    deleteEntity(entityName, pkColumn, pkValue, fetchRequestName, appContext(m_setup));
}

void GenericDAO::deleteEntity(const QString &entityName, const QString &pkColumn,
                              const QVariant &pkValue, const QString &fetchRequestName,
                              StoreContext *context) {
    onStore(m_setup, context, [&](StoreContext &store) {
        guarded(
            QStringLiteral("Error on GenericDAO.uniqueResult:pkColumn:pkValue:fetchRequestName"),
            [&] {
                if (entityName != QLatin1String("Audio")) {
                    throw StoreError(QStringLiteral("the template %1 does not fetch %2")
                                         .arg(fetchRequestName, entityName));
                }
                const auto records = StoreQueries::fetchTemplate(
                    store, fetchRequestName, {{pkColumn, pkValue}}, Order::None, 1);
                if (!records.isEmpty())
                    StoreQueries::remove(store, entityName, records.first()->objectID);
            });
    });
}

void GenericDAO::deleteAll(const QString &entityName) {
    onStore(m_setup, [&](StoreContext &store) {
        guarded(QStringLiteral("Error on GenericDAO.deleteAll:"), [&] {
            if (entityName == QLatin1String("User"))
                forgetSecretsOf(store, StoreQueries::fetch<User>(store));
            StoreQueries::removeAll(store, entityName);
            AppError error;
            if (!store.save(&error))
                qCWarning(lcStore).noquote() << QStringLiteral("ERROR %1").arg(describe(error));
        });
    });
}

#define SONARBOX_DAO_RECORD(R)                                                                     \
    template std::shared_ptr<R> GenericDAO::uniqueResult<R>();                                     \
    template QList<std::shared_ptr<R>> GenericDAO::getAll<R>();                                    \
    template void GenericDAO::save<R>(const std::shared_ptr<R> &);                                 \
    template void GenericDAO::save<R>(const std::shared_ptr<R> &, StoreContext *);                 \
    template void GenericDAO::delete_<R>(const std::shared_ptr<R> &);                              \
    template void GenericDAO::delete_<R>(const std::shared_ptr<R> &, StoreContext *);
SONARBOX_DAO_RECORD(Audio)
SONARBOX_DAO_RECORD(User)
SONARBOX_DAO_RECORD(Media)
#undef SONARBOX_DAO_RECORD

#pragma once

// Helpers shared by the data-access operations (not part of the public API).

#include "RecordFields.h"
#include "SecretStore.h"
#include "StoreContext.h"
#include "StoreError.h"
#include "StoreQueries.h"
#include "StoreSetup.h"
#include "StoreThread.h"
#include "settings/Utils.h"

#include <QList>

#include <utility>

namespace DaoSupport {

// The store's context (set up on first use; nullptr without a store).
inline StoreContext *appContext(StoreSetup &setup) {
    return setup.managedObjectContext();
}

// Runs `work` on the store thread against `context`; without a live context
// of `setup` (none, one since closed, another store's) the result is empty.
template <typename F>
auto onStore(StoreSetup &setup, StoreContext *context, F &&work) -> decltype(work(*context)) {
    using R = decltype(work(*context));
    if (!context)
        return R();
    return StoreThread::instance().call([&]() -> R {
        // Compared, never dereferenced: a context that is not live may be gone.
        if (!setup.isLive(context))
            return R();
        return work(*context);
    });
}

// The same against the store's own context.
template <typename F>
auto onStore(StoreSetup &setup, F &&work) -> decltype(work(std::declval<StoreContext &>())) {
    return onStore(setup, appContext(setup), std::forward<F>(work));
}

// Runs `work`; a store failure inside it goes to the error-report hook with
// `message` and the operation yields its empty result.
template <typename F> auto guarded(const QString &message, F &&work) -> decltype(work()) {
    try {
        return work();
    } catch (const StoreError &error) {
        Utils::sendException(message, error.message());
        return decltype(work())();
    }
}

inline QString describe(const AppError &error) {
    return error.failureReason.isEmpty()
               ? error.description
               : error.description + QLatin1Char(' ') + error.failureReason;
}

// The account's secrets come from the store's SecretStore (read once per
// process, then from memory); a value still found in the store file (written
// by an older version) is used until the next save.
inline QList<UserPtr> withSecrets(StoreContext &store, QList<UserPtr> users) {
    SecretStore &secretStore = store.setup().secrets();
    for (const UserPtr &user : users) {
        const AccountSecrets secrets = secretStore.read(user->username.value_or(QString()));
        if (secrets.password)
            user->password = secrets.password;
        if (secrets.facebookToken)
            user->facebookToken = secrets.facebookToken;
    }
    return users;
}
template <typename T> T withSecrets(StoreContext &, T records) {
    return records;
}

// Removes the accounts' secrets once the pending changes are saved.
inline void forgetSecretsOf(StoreContext &store, const QList<UserPtr> &users) {
    SecretStore *secretStore = &store.setup().secrets();
    for (const UserPtr &user : users) {
        const QString account = user->username.value_or(QString());
        store.afterCommit([secretStore, account] { secretStore->remove(account); });
    }
}
inline void forgetSecretsOf(StoreContext &store, const User &user) {
    forgetSecretsOf(store, {std::make_shared<User>(user)});
}

// Writes a record into the pending changes (insert or update).
inline void writeRecord(StoreContext &store, Audio &record) {
    StoreQueries::write(store, record);
}

inline void writeRecord(StoreContext &store, Media &record) {
    if (!record.isStored())
        record.awakeFromInsert();
    record.willSave();
    StoreQueries::write(store, record);
}

inline void writeRecord(StoreContext &store, User &record) {
    std::optional<QString> previousAccount;
    if (record.isStored()) {
        const auto stored =
            StoreQueries::fetch<User>(store, QStringLiteral("\"objectID\" = ?"), {record.objectID});
        if (!stored.isEmpty())
            previousAccount = stored.first()->username.value_or(QString());
    }
    // The secrets never reach the store file.
    User row = record;
    row.password.reset();
    row.facebookToken.reset();
    StoreQueries::write(store, row);
    record.objectID = row.objectID;

    const QString account = record.username.value_or(QString());
    const AccountSecrets secrets{record.password, record.facebookToken};
    // The secrets follow the record into its own store's keeping.
    store.afterCommit([keeper = &store.setup().secrets(), account, secrets, previousAccount] {
        SecretStore &secretStore = *keeper;
        secretStore.write(account, secrets);
        // Secrets under the old name that could not be read are kept: a
        // locked keyring must not cost the person their saved sign-in.
        if (previousAccount && *previousAccount != account && secretStore.isKnown(*previousAccount))
            secretStore.remove(*previousAccount);
    });
}

} // namespace DaoSupport

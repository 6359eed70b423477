#pragma once

#include "Audio.h"
#include "FolderStamp.h"
#include "Media.h"
#include "User.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class StoreContext;

// The statements behind the data-access operations. Store thread only; every
// failure throws StoreError.
namespace StoreQueries {

enum class Order { None, NameAscending, NameDescending };

// Records of the type matching `where` (SQL with positional placeholders).
template <typename R>
QList<std::shared_ptr<R>> fetch(StoreContext &context, const QString &where = {},
                                const QVariantList &values = {}, Order order = Order::None,
                                int limit = 0);

// The Audio records of a named query with the given substitution variables.
QList<AudioPtr> fetchTemplate(StoreContext &context, const QString &templateName,
                              const QVariantMap &variables, Order order = Order::None,
                              int limit = 0);
// The number of results of a named query.
int countTemplate(StoreContext &context, const QString &templateName, const QVariantMap &variables);
// The number of records of an entity ("Audio", "User", "Media").
int count(StoreContext &context, const QString &entityName);
// Whether an Audio has exactly this fileURL.
bool hasFile(StoreContext &context, const QString &path);

// The fileURL of every Audio (one statement, however many there are).
QSet<QString> filePaths(StoreContext &context);
// The userMediaID of every Audio that has one (and the one each replaces, until
// the cloud retires it), and the objectID of the Audio of each checksum.
struct TrackKeys {
    QSet<QString> userMediaIDs;
    QHash<QString, qint64> byChecksum;
};
TrackKeys trackKeys(StoreContext &context);
// Those of the paths that are the fileURL of a stored Audio.
QSet<QString> storedAmong(StoreContext &context, const QList<QString> &paths);

// The settled folders, by path (with its trailing slash).
QHash<QString, SettledFolder> settledFolders(StoreContext &context);
// How many settled folders are in the tree at the folder `root`.
qint64 settledFolderCount(StoreContext &context, const QString &root);
// Records folders as settled and forgets others, into the pending changes.
void recordScannedFolders(StoreContext &context, const QHash<QString, SettledFolder> &settled,
                          const QList<QString> &unsettled);

// Writes the record into the pending changes: an update when the store holds
// its row, else an insert that sets its objectID.
template <typename R> void write(StoreContext &context, R &record);
// Deletes a record's row into the pending changes.
void remove(StoreContext &context, const QString &entityName, qint64 objectID);
// Deletes every row of the entity into the pending changes.
void removeAll(StoreContext &context, const QString &entityName);

// The entity's table exists in the store.
bool isEntity(const QString &entityName);

} // namespace StoreQueries

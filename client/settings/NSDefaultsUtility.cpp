#include "NSDefaultsUtility.h"

#include "Logging.h"
#include "PreferenceKeys.h"

#include <QMutex>
#include <QStandardPaths>
#include <QUuid>

namespace {

QMutex g_lock;
QString g_storageFile;

QString key(QLatin1StringView k) {
    return QString(k);
}

// Reads a value as an integer only when it really holds one; QSettings keeps
// INI values as text, so "12" is a number and "twelve" is not.
std::optional<qint64> integerValue(const QVariant &v) {
    if (!v.isValid())
        return std::nullopt;
    bool ok = false;
    const qint64 n = v.toLongLong(&ok);
    if (ok)
        return n;
    return std::nullopt;
}

// Boolean reading of a stored object, as a "YES"/"NO" text or a number.
bool boolValue(const QVariant &v) {
    if (!v.isValid())
        return false;
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    const QString s = v.toString().trimmed();
    if (s.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 ||
        s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double d = s.toDouble(&ok);
    return ok && d != 0;
}

} // namespace

void NSDefaultsUtility::setStorageFile(const QString &path) {
    QMutexLocker lock(&g_lock);
    g_storageFile = path;
}

NSDefaultsUtility::NSDefaultsUtility(QString file)
    : m_file(std::move(file)) {}

NSDefaultsUtility &NSDefaultsUtility::standard() {
    static NSDefaultsUtility preferences;
    return preferences;
}

QString NSDefaultsUtility::file() const {
    return m_file.isEmpty() ? storageFile() : m_file;
}

QString NSDefaultsUtility::storageFile() {
    QMutexLocker lock(&g_lock);
    if (!g_storageFile.isEmpty())
        return g_storageFile;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Sonarbox/Sonarbox.conf");
}

std::unique_ptr<QSettings> NSDefaultsUtility::settings() const {
    // QSettings shares one cache per file inside the process, so separate
    // objects on different threads see each other's writes.
    return std::make_unique<QSettings>(file(), QSettings::IniFormat);
}

std::optional<QString> NSDefaultsUtility::text(QLatin1StringView k) const {
    const QVariant v = settings()->value(key(k));
    if (!v.isValid() || !v.canConvert<QString>() || v.typeId() == QMetaType::QByteArray ||
        v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList)
        return std::nullopt;
    return v.toString();
}

void NSDefaultsUtility::setText(QLatin1StringView k, const QString &value) const {
    auto s = settings();
    s->setValue(key(k), value);
    s->sync();
}

bool NSDefaultsUtility::boolean(QLatin1StringView k) const {
    return boolValue(settings()->value(key(k)));
}

void NSDefaultsUtility::setBoolean(QLatin1StringView k, bool value) const {
    auto s = settings();
    s->setValue(key(k), value);
    s->sync();
}

std::optional<double> NSDefaultsUtility::number(QLatin1StringView k) const {
    const QVariant v = settings()->value(key(k));
    if (!v.isValid())
        return std::nullopt;
    bool ok = false;
    const double d = v.toString().toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return d;
}

void NSDefaultsUtility::setNumber(QLatin1StringView k, double value) const {
    auto s = settings();
    s->setValue(key(k), value);
    s->sync();
}

bool NSDefaultsUtility::contains(QLatin1StringView k) const {
    return settings()->contains(key(k));
}

void NSDefaultsUtility::remove(QLatin1StringView k) const {
    auto s = settings();
    s->remove(key(k));
    s->sync();
}

void NSDefaultsUtility::synchronize() const {
    settings()->sync();
}

QString NSDefaultsUtility::getUUID() const {
    // Two first calls on different threads must agree on one identifier.
    static QMutex creation;
    QMutexLocker lock(&creation);
    const auto stored = text(PreferenceKeys::UUID);
    if (stored && !stored->isEmpty())
        return *stored;
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    setText(PreferenceKeys::UUID, uuid);
    return uuid;
}

int NSDefaultsUtility::getUserPickedMediaLibrary() const {
    auto s = settings();
    const QVariant v = s->value(key(PreferenceKeys::UserPickedMediaLibrary));
    if (!v.isValid()) {
        s->setValue(key(PreferenceKeys::UserPickedMediaLibrary), 1);
        s->sync();
        return 1;
    }
    return int(integerValue(v).value_or(0));
}

void NSDefaultsUtility::saveUserPickedMediaLibrary(int library) const {
    auto s = settings();
    s->setValue(key(PreferenceKeys::UserPickedMediaLibrary), library);
    s->sync();
}

bool NSDefaultsUtility::getDidUserPickMediaLibrary() const {
    return boolean(PreferenceKeys::DidUserPickedMediaLibrary);
}

void NSDefaultsUtility::saveDidUserPickMediaLibrary(const QString &yesOrNo) const {
    setText(PreferenceKeys::DidUserPickedMediaLibrary, yesOrNo);
}

qint64 NSDefaultsUtility::getSongAmountToProcessFromLibrary() const {
    return integerValue(settings()->value(key(PreferenceKeys::AmountOfSongsAppHasToProcess)))
        .value_or(0);
}

void NSDefaultsUtility::saveSongAmountToProcessFromLibrary(qint64 amount) const {
    auto s = settings();
    s->setValue(key(PreferenceKeys::AmountOfSongsAppHasToProcess), amount);
    s->sync();
}

std::optional<QList<QUrl>>
NSDefaultsUtility::getSaveUserMediaFoldersToScan(const std::optional<QList<QUrl>> &folders) const {
    auto s = settings();
    if (folders) {
        QVariantList blobs;
        for (const QUrl &url : *folders)
            blobs.append(url.toString(QUrl::FullyEncoded).toUtf8());
        s->setValue(key(PreferenceKeys::UserMediaFoldersToScan), blobs);
        s->sync();
        return std::nullopt;
    }
    const QVariant v = s->value(key(PreferenceKeys::UserMediaFoldersToScan));
    if (!v.isValid() || v.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QList<QUrl> urls;
    for (const QVariant &blob : v.toList()) {
        if (blob.typeId() != QMetaType::QByteArray)
            continue;
        urls.append(QUrl(QString::fromUtf8(blob.toByteArray())));
    }
    if (urls.isEmpty())
        return std::nullopt;
    return urls;
}

void NSDefaultsUtility::resetUserMediaFoldersToScan() const {
    remove(PreferenceKeys::UserMediaFoldersToScan);
}

QString NSDefaultsUtility::getUserDownloadDirectory() const {
    const auto stored = text(PreferenceKeys::UserDownloadDirectory);
    if (stored && !stored->isEmpty())
        return *stored;
    return defaultDownloadDirectory();
}

void NSDefaultsUtility::saveUserDownloadDirectory(const QString &path) const {
    setText(PreferenceKeys::UserDownloadDirectory, path);
}

void NSDefaultsUtility::resetUserDownloadDirectory() const {
    setText(PreferenceKeys::UserDownloadDirectory, defaultDownloadDirectory());
}

QString NSDefaultsUtility::defaultDownloadDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

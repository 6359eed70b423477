#include "IdentificationCache.h"

#include "settings/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

QString IdentificationCache::fileIn(const QString &folder) {
    return QDir(folder).filePath(QStringLiteral("identified.json"));
}

std::optional<IdentificationCache::Entry> IdentificationCache::stamp(const QString &path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    Entry entry;
    entry.size = info.size();
    entry.modified = info.lastModified().toMSecsSinceEpoch();
    return entry;
}

void IdentificationCache::open(const QString &file) {
    m_file = file;
    m_entries.clear();
    m_changed = false;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(in.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qCWarning(lcSync).noquote()
            << QStringLiteral("The identification cache %1 could not be read; starting anew")
                   .arg(file);
        return;
    }
    const QJsonObject entries = document.object();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        const QJsonObject stored = it.value().toObject();
        Entry entry;
        entry.size = qint64(stored.value(QStringLiteral("size")).toDouble(-1));
        entry.modified = qint64(stored.value(QStringLiteral("modified")).toDouble());
        entry.result = stored.value(QStringLiteral("result")).toObject();
        if (entry.size >= 0 && !entry.result.isEmpty())
            m_entries.insert(it.key(), entry);
    }
}

std::optional<QJsonObject> IdentificationCache::find(const QString &path) const {
    const auto it = m_entries.constFind(path);
    if (it == m_entries.constEnd())
        return std::nullopt;
    const std::optional<Entry> now = stamp(path);
    if (!now || now->size != it->size || now->modified != it->modified)
        return std::nullopt;
    return it->result;
}

void IdentificationCache::keep(const QString &path, const QJsonObject &result) {
    std::optional<Entry> entry = stamp(path);
    if (!entry)
        return;
    entry->result = result;
    m_entries.insert(path, *entry);
    m_changed = true;
}

void IdentificationCache::forget(const QString &path) {
    m_changed = m_entries.remove(path) > 0 || m_changed;
}

bool IdentificationCache::save() {
    if (!m_changed || m_file.isEmpty())
        return true;
    QJsonObject entries;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        entries.insert(it.key(), QJsonObject{{QStringLiteral("size"), double(it->size)},
                                             {QStringLiteral("modified"), double(it->modified)},
                                             {QStringLiteral("result"), it->result}});
    QSaveFile out(m_file);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(QJsonDocument(entries).toJson(QJsonDocument::Compact)) < 0 || !out.commit()) {
        qCWarning(lcSync).noquote() << QStringLiteral("The identification cache %1 could not be "
                                                      "written: %2")
                                           .arg(m_file, out.errorString());
        return false;
    }
    m_changed = false;
    return true;
}

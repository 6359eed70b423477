#include "AlbumGroups.h"

#include <QFileInfo>
#include <QHash>

namespace AlbumGroups {

bool hasAlbum(const Audio &track) {
    return track.album && !track.album->isEmpty() && *track.album != QLatin1String("Unknown");
}

QList<Call> calls(const QList<AudioPtr> &library, const QSet<QString> &known) {
    struct Group {
        QString key;
        QList<qsizetype> tracks;
        qsizetype stored = 0;
    };
    QList<Group> groups;
    // By album title alone (as the recognition engine groups), or by folder.
    QHash<QString, qsizetype> groupOf;
    for (qsizetype i = 0; i < library.size(); ++i) {
        const Audio &track = *library.at(i);
        const QString path = track.fileURL.value_or(QString());
        const bool album = hasAlbum(track);
        const QString lookup = album ? QStringLiteral("a:") + *track.album
                                     : QStringLiteral("f:") + QFileInfo(path).path();
        auto it = groupOf.constFind(lookup);
        if (it == groupOf.constEnd()) {
            Group group;
            group.key =
                album ? QStringLiteral("%1_%2").arg(track.artist.value_or(QString()), *track.album)
                      : QFileInfo(path).path();
            it = groupOf.insert(lookup, groups.size());
            groups.append(std::move(group));
        }
        Group &group = groups[*it];
        if (known.contains(path))
            ++group.stored;
        else
            group.tracks.append(i);
    }

    QList<Call> result;
    for (const Group &group : std::as_const(groups)) {
        for (qsizetype from = 0; from < group.tracks.size(); from += MaximumCallSize) {
            Call call;
            call.key = group.key;
            call.tracks = group.tracks.mid(from, MaximumCallSize);
            if (from + MaximumCallSize >= group.tracks.size())
                call.storedMembers = group.stored;
            result.append(std::move(call));
        }
    }
    return result;
}

} // namespace AlbumGroups

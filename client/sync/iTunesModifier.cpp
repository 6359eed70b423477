#include "iTunesModifier.h"

#include "settings/Logging.h"

#include <QUrl>

iTunesModifier::iTunesModifier(MusicLibraryPtr library)
    : m_library(std::move(library)) {}

std::optional<QString> iTunesModifier::addSongsToItunes(const QString &path) {
    const std::optional<QString> location = m_library ? m_library->addSong(path) : std::nullopt;
    if (!location) {
        qCWarning(lcSync).noquote()
            << QStringLiteral("\n\nITUNES: CANT ADD %1 to ITUNES").arg(path);
        return std::nullopt;
    }
    qCInfo(lcSync).noquote()
        << QStringLiteral("\n\nITUNES: Added %1 \nTrack: %2").arg(path, *location);
    return QUrl::fromLocalFile(*location).toString(QUrl::FullyEncoded);
}

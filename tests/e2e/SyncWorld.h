#pragma once

#include "CloudProcess.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A small world for whole syncs: generated songs, a recognition catalogue of
// some of them, a server whose catalogue holds the same songs, an account,
// and a music folder in which the catalogued songs are re-encoded and tagged
// differently (only their fingerprints can match them), beside songs the
// service has never seen. The account also holds songs that only the cloud
// has, uploaded by another installation.
class SyncWorld {
public:
    static inline const QString Email = QStringLiteral("ada@example.com");
    static inline const QString Password = QStringLiteral("s3cret!");

    // How the client's recognition engine finds the catalogue: a copy of it
    // on the client's computer (catalog=), or the default set-up (no
    // initialisation data of the client's own), asking the server's lookup
    // service, which serves it or, down, does not.
    enum class Recognition { LocalCatalogue, Lookup, LookupDown };

    // Builds everything and starts the server. False (with `error`) on failure.
    bool build(QString *error, int catalogued = 3, int unknown = 2, int cloudOnly = 1,
               Recognition engine = Recognition::LocalCatalogue);

    // Added to every song's seed: worlds built with different ones hold
    // different music (no two of their files have the same bytes).
    int seeds = 0;
    // Whether the server keeps a log of the requests it answered.
    bool keepRequestLog = false;

    CloudProcess cloud;
    QString musicFolder() const { return m_root.filePath(QStringLiteral("music")); }
    QString downloadFolder() const { return m_root.filePath(QStringLiteral("downloads")); }
    QString configFile() const { return m_root.filePath(QStringLiteral("sonarbox.ini")); }

    QStringList catalogueOriginals; // the files the catalogue was made from
    QStringList cataloguedCopies;   // local files the catalogue holds as other encodings
    QStringList unknownSongs;       // local files nobody has
    QString cloudOnlySong;          // the (first) file another installation uploaded
    QString cloudOnlyMediaId;
    QStringList cloudOnlySongs;
    // The names the cloud-only songs get in the download folder, as the
    // client names a downloaded song: "Artist - Album - Title.ext".
    QStringList cloudOnlyDownloadNames;
    // The MD5 of each local file, by path.
    QMap<QString, QString> md5;

private:
    QTemporaryDir m_root;
};

QString fileMd5(const QString &path);

// Signs the world's account in through this process's coordinator and
// chooses `music` (a folder library) and `downloads` for its syncs. False
// when the sign-in did not go through.
bool signInAndChoose(const QString &music, const QString &downloads);

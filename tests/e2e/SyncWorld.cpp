#include "SyncWorld.h"

#include "TestEnvironment.h"
#include "TestSongs.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

QString fileMd5(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash md5(QCryptographicHash::Md5);
    md5.addData(&f);
    return QString::fromLatin1(md5.result().toHex());
}

bool SyncWorld::build(QString *error, int catalogued, int unknown, int cloudOnly,
                      Recognition engine) {
    const auto fail = [&](const QString &why) {
        *error = why;
        return false;
    };
    const QString originals = m_root.filePath(QStringLiteral("originals"));
    const QString recognition = m_root.filePath(QStringLiteral("recognition"));
    QDir().mkpath(musicFolder());
    QDir().mkpath(downloadFolder());

    QStringList catalogue;
    for (int i = 0; i < catalogued; ++i) {
        const QString original = QStringLiteral("%1/original-%2.flac").arg(originals).arg(i);
        if (!TestSongs::make(original, seeds + 100 + i, 20,
                             {QStringLiteral("First Light %1").arg(i),
                              QStringLiteral("The Testers"), QStringLiteral("Sample Album"),
                              i + 1}))
            return fail(QStringLiteral("could not make ") + original);
        catalogue << original;
        catalogueOriginals << original;
        // The person's copy: another encoding and other tags, so neither the
        // checksum nor the names can find it.
        const QString copy = QStringLiteral("%1/Rips/track %2.mp3").arg(musicFolder()).arg(i + 1);
        if (!TestSongs::make(
                copy, seeds + 100 + i, 20,
                {QStringLiteral("Track %1").arg(i + 1), QString(), QStringLiteral("Rips"), i + 1},
                QStringLiteral("128k")))
            return fail(QStringLiteral("could not make ") + copy);
        cataloguedCopies << copy;
    }
    for (int i = 0; i < unknown; ++i) {
        const QString song = QStringLiteral("%1/Own/own song %2.mp3").arg(musicFolder()).arg(i);
        if (!TestSongs::make(song, seeds + 500 + i, 15,
                             {QStringLiteral("Own Song %1").arg(i), QStringLiteral("Me"),
                              QStringLiteral("Home Recordings"), i + 1}))
            return fail(QStringLiteral("could not make ") + song);
        unknownSongs << song;
    }
    for (int i = 0; i < cloudOnly; ++i) {
        // The first keeps the names the tests have always looked for.
        const QString title =
            i == 0 ? QStringLiteral("Far Away") : QStringLiteral("Far Away %1").arg(i + 1);
        const QString song =
            m_root.filePath(i == 0 ? QStringLiteral("elsewhere/cloud only.mp3")
                                   : QStringLiteral("elsewhere/cloud only %1.mp3").arg(i + 1));
        if (!TestSongs::make(
                song, seeds + 900 + i, 12,
                {title, QStringLiteral("Elsewhere"), QStringLiteral("Other Desk"), i + 1}))
            return fail(QStringLiteral("could not make the cloud-only song ") + song);
        cloudOnlySongs << song;
        cloudOnlyDownloadNames << QStringLiteral("Elsewhere - Other Desk - %1.mp3").arg(title);
    }
    cloudOnlySong = cloudOnlySongs.value(0);
    for (const QString &f : cataloguedCopies + unknownSongs + cloudOnlySongs)
        md5.insert(f, fileMd5(f));

    const QString database = recognition + QStringLiteral("/catalog.db");
    QDir().mkpath(recognition);
    if (!TestSongs::makeCatalog(database, catalogue))
        return fail(QStringLiteral("tonemill-catalog failed"));
    const QString engineConfig = TestSongs::writeEngineConfig(recognition, database);
    if (!cloud.importFiles(catalogue, database))
        return fail(QStringLiteral("sonarbox-cloud import failed"));
    if (!cloud.addUser(Email, Password))
        return fail(QStringLiteral("sonarbox-cloud add-user failed"));
    QStringList lookup;
    if (engine == Recognition::Lookup)
        lookup = QStringList{QStringLiteral("--recognition-catalog"), database,
                             QStringLiteral("--recognition-clients"),
                             QStringLiteral("1000001:0123456789ABCDEF0123456789ABCDEF")};
    if (keepRequestLog)
        cloud.keepRequestLog();
    if (!cloud.start(lookup))
        return fail(QStringLiteral("sonarbox-cloud did not start"));
    for (const QString &song : std::as_const(cloudOnlySongs)) {
        const std::optional<QString> id = cloud.uploadAsAnotherDevice(Email, Password, song);
        if (!id)
            return fail(QStringLiteral("the other installation could not upload ") + song);
        if (cloudOnlyMediaId.isEmpty())
            cloudOnlyMediaId = *id;
    }

    QFile ini(configFile());
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("cannot write ") + configFile());
    ini.write(QStringLiteral("[service]\ngatewayBaseUrl=%1\nwebSiteUrl=%1\n"
                             "reachabilityHost=127.0.0.1\nreachabilityPort=%2\n"
                             "[recognition]\nclientId=1000001\n"
                             "clientTag=0123456789ABCDEF0123456789ABCDEF\n%3"
                             "[mpd]\nport=1\n"
                             // The songs are written just before the first sync:
                             // it need not wait long for them to rest.
                             "[sync]\nfileSettleMs=300\n")
                  .arg(cloud.baseUrl())
                  .arg(cloud.port())
                  .arg(engine == Recognition::LocalCatalogue
                           ? QStringLiteral("initData=%1\n").arg(engineConfig)
                           : QString())
                  .toUtf8());
    return true;
}

bool signInAndChoose(const QString &music, const QString &downloads) {
    Sonarbox &sonarbox = Sonarbox::instance();
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = SyncWorld::Email;
    user->password = SyncWorld::Password;
    user->deviceId = sonarbox.deviceID();
    QFuture<bool> signedIn = LoginPortal::loginNewUser(user, nullptr);
    if (!TestEnvironment::waitUntil([&] { return signedIn.isFinished(); }, 30000) ||
        !signedIn.result())
        return false;
    sonarbox.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    sonarbox.setUserMediaFoldersToScan({QUrl::fromLocalFile(music)});
    sonarbox.setUserDownloadDirectory(downloads);
    return true;
}

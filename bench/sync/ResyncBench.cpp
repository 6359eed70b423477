// Times the hourly re-sync of an unchanged library: every file is already in
// the store with the service's answer, so the sync scans, finds nothing new,
// lists the cloud library's changes (none) and has nothing to upload.
// Usage: sync_resync_bench [--files 10000] [--dir DIR] [--runs 3]
#include "BenchSupport.h"
#include "BenchWorld.h"
#include "TaggedLibrary.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "engine/SyncEngine.h"
#include "store/GenericDAO.h"
#include "store/StoreContext.h"
#include "store/StoreSetup.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>

int main(int argc, char **argv) {
    QTemporaryDir home;
    TestEnvironment::isolate(home.path());
    QCoreApplication app(argc, argv);
    bench::quietClient();
    TaggedLibrary library;
    int runs = 1;
    if (!TaggedLibrary::fromArguments(app.arguments(), 3, library, &runs))
        return 1;
    const QString dir = library.folder;
    const int files = int(library.files.size());
    CloudProcess cloud;
    if (!cloud.addUser(bench::Email, bench::Password) || !cloud.start() ||
        !bench::configure(home.path(), cloud, QString())) {
        std::fprintf(stderr, "could not start sonarbox-cloud\n");
        return 1;
    }
    Sonarbox &sonarbox = Sonarbox::instance();
    SyncEngine engine;
    engine.install(sonarbox);
    if (!bench::signIn()) {
        std::fprintf(stderr, "could not sign in\n");
        return 1;
    }
    // The store as an earlier sync left it: every file known and answered.
    for (int i = 0; i < files; ++i) {
        auto track = std::make_shared<Audio>();
        track->fileURL = library.files.at(i);
        track->name = QStringLiteral("Track %1.mp3").arg(i);
        track->checksum = QString::fromLatin1(
            QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Md5).toHex());
        track->userMediaID = QString::number(100000 + i);
        track->fingerPrintID = QStringLiteral("-1");
        track->downloadable = true;
        track->synced = 1;
        track->downloaded = 0;
        bench::stampFromDisk(*track);
        GenericDAO::instance().addTrackToDB(track, false);
    }
    StoreSetup::instance().managedObjectContext()->save();
    sonarbox.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    sonarbox.setUserMediaFoldersToScan({QUrl::fromLocalFile(dir)});
    sonarbox.setUserDownloadDirectory(home.filePath(QStringLiteral("downloads")));

    QString outcome;
    const double first = bench::timeMs([&] { outcome = bench::syncToTheEnd(); });
    std::vector<double> resync;
    for (int i = 0; i < runs && outcome == QLatin1String("Sync Completed"); ++i)
        resync.push_back(bench::timeMs([&] { outcome = bench::syncToTheEnd(); }));
    std::printf("%-44s %10s\n", "unchanged library of stored tracks", "ms");
    std::printf("%-44s %10.0f\n", "first sync of the process (full listing)", first);
    std::printf("%-44s %10.0f\n", "hourly re-sync, median", bench::median(resync));
    std::printf("tracks stored: %d, outcome: %s, peak memory %.0f MiB\n",
                GenericDAO::instance().getSize(QStringLiteral("Audio")), qPrintable(outcome),
                bench::peakResidentMiB());
    return outcome == QLatin1String("Sync Completed") ? 0 : 1;
}

// The Debian package that scripts/package.sh made from this tree, unpacked
// with dpkg-deb -x into a temporary folder. Its programs run from there with
// the source and build trees hidden (a mount namespace of their own, where the
// machine allows one), so a file that only the build tree has, or a path into
// it, shows up as a failure here rather than on a person's machine.
#include "ChildProcess.h"
#include "CloudProcess.h"
#include "TestSongs.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kEmail = QStringLiteral("lin@example.com");
const QString kPassword = QStringLiteral("unpacked-and-ready-42");

QString text(const QByteArray &bytes) {
    return QString::fromUtf8(bytes);
}

// The one package in the build tree.
QString packageFile() {
    const QStringList debs = QDir(QStringLiteral(SONARBOX_BUILD_TREE))
                                 .entryList({QStringLiteral("sonarbox_*.deb")}, QDir::Files);
    return debs.size() == 1 ? QDir(QStringLiteral(SONARBOX_BUILD_TREE)).filePath(debs.first())
                            : QString();
}

ChildProcess::Result run(const QString &program, const QStringList &args,
                         const QStringList &environment = {}, const QByteArray &input = {}) {
    ChildProcess::Options options = ChildProcess::captured();
    options.environment = environment;
    return ChildProcess::run(program, args, input, 300000, options);
}

// Whether this machine lets a process hide folders from itself (root, and
// mount namespaces allowed).
bool canHideTrees() {
    static const bool can =
        run(QStringLiteral("unshare"),
            {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
             QStringLiteral("mount"), QStringLiteral("-t"), QStringLiteral("tmpfs"),
             QStringLiteral("none"), QStringLiteral(SONARBOX_SOURCE_TREE)})
            .exitCode == 0;
    return can;
}

class Unpacked : public ::testing::Test {
protected:
    void SetUp() override {
        m_deb = packageFile();
        ASSERT_FALSE(m_deb.isEmpty()) << "no single sonarbox_*.deb in " SONARBOX_BUILD_TREE
                                         " (the package_build test makes it)";
        ASSERT_EQ(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, root()}).exitCode,
                  0);
        const QString home = m_dir.filePath(QStringLiteral("home"));
        m_environment = {QStringLiteral("HOME=") + home,
                         QStringLiteral("XDG_CONFIG_HOME=%1/.config").arg(home),
                         QStringLiteral("XDG_DATA_HOME=%1/.local/share").arg(home),
                         QStringLiteral("XDG_CACHE_HOME=%1/.cache").arg(home),
                         QStringLiteral("XDG_STATE_HOME=%1/.local/state").arg(home),
                         QStringLiteral("XDG_RUNTIME_DIR=%1/run").arg(home),
                         QStringLiteral("QT_QPA_PLATFORM=offscreen"),
                         QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                         QStringLiteral("SONARBOX_CONFIG"),
                         QStringLiteral("SONARBOX_VERBOSE"),
                         QStringLiteral("LD_LIBRARY_PATH")};
        QDir().mkpath(home + QStringLiteral("/run"));
    }

    QString root() const { return m_dir.filePath(QStringLiteral("root")); }
    QString file(const QString &relative) const { return root() + QLatin1Char('/') + relative; }
    QString logFile() const {
        return m_dir.filePath(QStringLiteral("home/.local/state/Sonarbox/sonarbox.log"));
    }

    struct Said {
        int exitCode = -1;
        QString out;
        QString err;
        QString all() const { return out + err; }
    };

    // An unpacked program, run with the source and build trees hidden.
    Said runUnpacked(const QString &program, const QStringList &args,
                     const QByteArray &input = {}) {
        const QString path = file(QStringLiteral("usr/bin/") + program);
        QString command = path;
        QStringList arguments = args;
        if (canHideTrees()) {
            // The build tree may lie inside the source tree: hidden with it then.
            const QString hide = QStringLiteral(
                "mount -t tmpfs none \"$1\" && { [ ! -d \"$2\" ] || mount -t tmpfs none \"$2\"; } "
                "&& shift 2 && exec \"$@\"");
            command = QStringLiteral("unshare");
            arguments = QStringList{QStringLiteral("--mount"),
                                    QStringLiteral("--propagation"),
                                    QStringLiteral("private"),
                                    QStringLiteral("sh"),
                                    QStringLiteral("-c"),
                                    hide,
                                    QStringLiteral("sh"),
                                    QStringLiteral(SONARBOX_SOURCE_TREE),
                                    QStringLiteral(SONARBOX_BUILD_TREE),
                                    path} +
                        args;
        }
        const QString errors = m_dir.filePath(QStringLiteral("stderr-%1.txt").arg(++m_runs));
        ChildProcess::Options options = ChildProcess::captured();
        options.environment = m_environment;
        options.errorFile = errors;
        const ChildProcess::Result r =
            ChildProcess::run(command, arguments, input, 300000, options);
        QFile err(errors);
        err.open(QIODevice::ReadOnly);
        return {r.exitCode, text(r.output), text(err.readAll())};
    }

    QTemporaryDir m_dir;
    QString m_deb;
    QStringList m_environment;
    int m_runs = 0;
};

TEST_F(Unpacked, HoldsEveryProgramWithItsDataAndPassesTheDesktopAndDebianChecks) {
    for (const char *relative :
         {"usr/bin/sonarbox",
          "usr/bin/sonarbox-headless",
          "usr/bin/sonarbox-cloud",
          "usr/bin/tonemill-catalog",
          "usr/share/sonarbox/sonarbox.ini",
          "usr/share/sonarbox/fonts/Raleway-Regular.ttf",
          "usr/share/sonarbox/fonts/Raleway-Medium.ttf",
          "usr/share/sonarbox/fonts/Raleway-Heavy.ttf",
          "usr/share/sonarbox/fonts/OFL.txt",
          "usr/share/sonarbox/translations/sonarbox_en.qm",
          "usr/share/applications/org.sonarbox.Sonarbox.desktop",
          "usr/share/metainfo/org.sonarbox.Sonarbox.metainfo.xml",
          "usr/share/icons/hicolor/scalable/apps/org.sonarbox.Sonarbox.svg",
          "usr/share/icons/hicolor/256x256/apps/org.sonarbox.Sonarbox.png",
          "usr/share/icons/hicolor/16x16/apps/org.sonarbox.Sonarbox.png",
          "usr/share/icons/hicolor/22x22/status/sonarbox-tray-idle.png",
          "usr/share/icons/hicolor/22x22/status/sonarbox-tray-syncing.png",
          "usr/share/icons/hicolor/22x22/status/sonarbox-tray-offline.png",
          "usr/share/icons/hicolor/22x22/status/sonarbox-tray-attention.png",
          "usr/share/icons/hicolor/scalable/status/sonarbox-tray-attention.svg",
          "usr/lib/systemd/user/sonarbox-headless.service",
          "usr/share/man/man1/sonarbox.1.gz",
          "usr/share/man/man1/sonarbox-headless.1.gz",
          "usr/share/man/man1/sonarbox-cloud.1.gz",
          "usr/share/man/man1/tonemill-catalog.1.gz",
          "usr/share/doc/sonarbox/copyright",
          "usr/share/doc/sonarbox/changelog.gz"})
        EXPECT_TRUE(QFileInfo(file(QLatin1String(relative))).isFile()) << relative;
    // The libraries are the programs' own, beside no public ones.
    const QStringList libraries =
        QDir(file(QStringLiteral("usr/" SONARBOX_PRIVATE_LIBDIR)))
            .entryList({QStringLiteral("lib*.so*")}, QDir::Files | QDir::System);
    EXPECT_EQ(libraries,
              QStringList({QStringLiteral("libtonemill-recognition.so." SONARBOX_VERSION),
                           QStringLiteral("libtonemill-recognition.so.1"),
                           QStringLiteral("libtonemill.so." SONARBOX_VERSION),
                           QStringLiteral("libtonemill.so.1")}));
    EXPECT_FALSE(QFileInfo::exists(file(QStringLiteral("usr/include"))));

    // Every library search path is the program's own folder or relative to it.
    QDirIterator elf(root(), QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    int programs = 0;
    while (elf.hasNext()) {
        const QString path = elf.next();
        static const QRegularExpression library(QStringLiteral(R"(\.so(\.\d+)*$)"));
        if (!path.contains(QStringLiteral("/usr/bin/")) && !library.match(path).hasMatch())
            continue;
        const QString dynamic =
            text(run(QStringLiteral("readelf"), {QStringLiteral("-d"), path}).output);
        const QRegularExpression searchPath(QStringLiteral(R"(\((?:RUNPATH|RPATH)\).*\[(.*)\])"));
        for (auto m = searchPath.globalMatch(dynamic); m.hasNext();) {
            for (const QString &entry : m.next().captured(1).split(QLatin1Char(':')))
                EXPECT_TRUE(entry.startsWith(QStringLiteral("$ORIGIN")))
                    << path.toStdString() << ": " << entry.toStdString();
        }
        ++programs;
    }
    EXPECT_EQ(programs, 6);

    const QString depends = text(
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Depends")})
            .output);
    // Read from the programs' libraries, plus the store's driver plug-in.
    for (const char *package :
         {"libqt6widgets6", "libqt6webenginewidgets6", "libavformat59", "libchromaprint1",
          "libmpdclient2", "libmicrohttpd12", "libqt6sql6-sqlite"})
        EXPECT_TRUE(depends.contains(QLatin1String(package)))
            << package << " in " << depends.toStdString();

    const auto validate = [](const QString &tool, const QStringList &args) {
        const ChildProcess::Result r = run(tool, args);
        EXPECT_EQ(r.exitCode, 0) << tool.toStdString() << ": " << r.output.toStdString();
    };
    validate(QStringLiteral("desktop-file-validate"),
             {file(QStringLiteral("usr/share/applications/org.sonarbox.Sonarbox.desktop"))});
    validate(QStringLiteral("appstreamcli"),
             {QStringLiteral("validate"), QStringLiteral("--no-net"),
              file(QStringLiteral("usr/share/metainfo/org.sonarbox.Sonarbox.metainfo.xml"))});

    const ChildProcess::Result lintian = run(QStringLiteral("lintian"), {m_deb});
    ASSERT_NE(lintian.exitCode, -1) << "lintian did not run";
    const QStringList errors = text(lintian.output)
                                   .split(QLatin1Char('\n'))
                                   .filter(QRegularExpression(QStringLiteral("^E: ")));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Unpacked, TheHeadlessEngineSignsInAndSyncsFromItsOwnFilesAlone) {
    const Said version =
        runUnpacked(QStringLiteral("sonarbox-headless"), {QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0) << version.all().toStdString();
    EXPECT_EQ(version.out.trimmed(), QStringLiteral("Sonarbox " SONARBOX_VERSION));

    // One song the service's catalogue holds (as the person ripped it: other
    // bytes, only its fingerprint can match it) and one of their own.
    const QString originals = m_dir.filePath(QStringLiteral("originals"));
    const QString music = m_dir.filePath(QStringLiteral("music"));
    const QString downloads = m_dir.filePath(QStringLiteral("downloads"));
    QDir().mkpath(music);
    QDir().mkpath(downloads);
    const QString original = originals + QStringLiteral("/northern.flac");
    ASSERT_TRUE(TestSongs::make(
        original, 121, 20,
        {QStringLiteral("Northern"), QStringLiteral("The Testers"), QStringLiteral("Light"), 1}));
    ASSERT_TRUE(TestSongs::make(music + QStringLiteral("/track 1.mp3"), 121, 20, {},
                                QStringLiteral("96k")));
    ASSERT_TRUE(TestSongs::make(music + QStringLiteral("/kitchen.ogg"), 707, 15,
                                {QStringLiteral("Kitchen"), QStringLiteral("Me")}));
    const QString catalog = originals + QStringLiteral("/catalog.db");
    ASSERT_TRUE(TestSongs::makeCatalog(catalog, {original}));
    const QString engine = TestSongs::writeEngineConfig(originals, catalog);

    CloudProcess cloud;
    ASSERT_TRUE(cloud.addUser(kEmail, kPassword));
    ASSERT_TRUE(cloud.importFiles({original}, catalog));
    ASSERT_TRUE(cloud.start());
    // Only what differs from the installed default: that default must be found.
    const QString config = m_dir.filePath(QStringLiteral("sonarbox.ini"));
    QFile ini(config);
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[service]\ngatewayBaseUrl=%1\nwebSiteUrl=%1\n[recognition]\n"
                             "initData=%2\n")
                  .arg(cloud.baseUrl(), engine)
                  .toUtf8());
    ini.close();
    const QStringList withConfig{QStringLiteral("--config"), config};

    const Said login = runUnpacked(QStringLiteral("sonarbox-headless"),
                                   withConfig + QStringList{QStringLiteral("--login"), kEmail},
                                   kPassword.toUtf8() + '\n');
    ASSERT_EQ(login.exitCode, 0) << login.all().toStdString();
    const Said once = runUnpacked(QStringLiteral("sonarbox-headless"),
                                  withConfig + QStringList{QStringLiteral("--library"), music,
                                                           QStringLiteral("--download-dir"),
                                                           downloads, QStringLiteral("--once")});
    const QString said = once.all();
    EXPECT_EQ(once.exitCode, 0) << said.toStdString();
    EXPECT_TRUE(said.contains(
        QStringLiteral(": 2 found, 1 matched without upload, 1 uploaded, 0 downloaded, 0 failed")))
        << said.toStdString();
    // The terminal holds what the program says, not its log (whose lines
    // name their category: "sonarbox.sync: ...").
    EXPECT_FALSE(said.contains(QRegularExpression(QStringLiteral(R"(\bsonarbox\.[a-z]+: )"))))
        << said.toStdString();

    QFile log(logFile());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << logFile().toStdString();
    const QString logged = text(log.readAll());
    EXPECT_TRUE(logged.contains(
        QStringLiteral(" I sonarbox.accounts: Existing user successfully logged in")));
    EXPECT_FALSE(logged.contains(kPassword));
    EXPECT_EQ(QFileInfo(logFile()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
}

TEST_F(Unpacked, TheDesktopProgramDrawsItsScreensWithItsOwnFonts) {
    const QString out = m_dir.filePath(QStringLiteral("screens"));
    const Said r =
        runUnpacked(QStringLiteral("sonarbox"), {QStringLiteral("--render-screens"), out});
    EXPECT_EQ(r.exitCode, 0) << r.all().toStdString();
    for (const char *screen :
         {"landing", "login", "library-picker", "progress-finished", "about", "menu-synced"})
        EXPECT_TRUE(QFileInfo(QStringLiteral("%1/%2.png").arg(out, QLatin1String(screen))).size() >
                    0)
            << screen;
    QFile log(logFile());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logged = text(log.readAll());
    EXPECT_FALSE(logged.contains(QStringLiteral("is missing"))) << logged.toStdString();
    EXPECT_FALSE(logged.contains(QStringLiteral("could not be loaded"))) << logged.toStdString();
}

} // namespace

#include "settings/Utility.h"
#include "ChildProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString makeFile(const QTemporaryDir &dir, const char *name, qint64 size, char fill = 'x') {
    const QString path = dir.filePath(QLatin1String(name));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray(size, fill));
    return path;
}

TEST(Utility, FileSizeBounds) {
    QTemporaryDir dir;
    EXPECT_FALSE(Utility::isValidFileSize(makeFile(dir, "a", 102400)));
    EXPECT_TRUE(Utility::isValidFileSize(makeFile(dir, "b", 102401)));
    EXPECT_TRUE(Utility::isValidFileSize(makeFile(dir, "c", 104857599)));
    EXPECT_FALSE(Utility::isValidFileSize(makeFile(dir, "d", 104857600)));
    EXPECT_FALSE(Utility::isValidFileSize(dir.filePath("missing")));
}

TEST(Utility, EmailValidation) {
    for (const char *good :
         {"ana@example.com", "a_b-c+d@mail.example.org", "A1@x-y.co", "first.last@example.museum"})
        EXPECT_TRUE(Utility::isValidEmail(QLatin1String(good))) << good;
    for (const char *bad : {"ana.+x@example.com", "ana@example.c", "ana@", "@example.com",
                            "ana example@x.com", "ana@example.com ", ""})
        EXPECT_FALSE(Utility::isValidEmail(QLatin1String(bad))) << bad;
}

// Sets the system version for one test and puts the previous one back.
class SystemVersion {
public:
    explicit SystemVersion(int version)
        : m_previous(Utility::minOSVersion()) {
        Utility::setMinOSVersion(version);
    }
    ~SystemVersion() { Utility::setMinOSVersion(m_previous); }
    SystemVersion(const SystemVersion &) = delete;
    SystemVersion &operator=(const SystemVersion &) = delete;

private:
    int m_previous;
};

TEST(Utility, NormalizeFilePath) {
    SystemVersion current(12);
    EXPECT_EQ(Utility::normalizeFilePath("file:///home/ana/My%20Music/caf%C3%A9.mp3"),
              QString::fromUtf8("/home/ana/My Music/café.mp3"));
    // A plain path is returned unchanged, escapes included.
    EXPECT_EQ(Utility::normalizeFilePath("/home/ana/a%20b.mp3"), "/home/ana/a%20b.mp3");
    // Only the text up to a second prefix counts.
    EXPECT_EQ(Utility::normalizeFilePath("file:///a/b.mp3file:///c"), "/a/b.mp3");

    SystemVersion old(8);
    EXPECT_EQ(Utility::normalizeFilePath("file://localhost/a/b%2Bc.mp3"), "/a/b+c.mp3");
    EXPECT_EQ(Utility::normalizeFilePath("file:///a/b.mp3"), "file:///a/b.mp3");
}

TEST(Utility, PathPieces) {
    EXPECT_EQ(Utility::getFileName("/music/A%20B/track%201.mp3"), "track 1.mp3");
    EXPECT_EQ(Utility::getFileExtension("/music/a.b/track.flac"), "flac");
    EXPECT_EQ(Utility::getFileExtension("README"), "README");
    EXPECT_EQ(Utility::getFolderNameFromPath("/music/Best%20Of/"), "Best Of");
    EXPECT_EQ(Utility::getFolderNameFromPath("/music/Best Of/01.mp3"), "Best Of");
    EXPECT_EQ(Utility::getShortenedFolderPath("/home/ana/Downloads"), "../ana/Downloads");
    EXPECT_EQ(Utility::getShortenedFolderPath("Downloads"), "Downloads");
}

TEST(Utility, ExtensionsAreComparedExactly) {
    EXPECT_TRUE(Utility::isValidFileExtension("mp3"));
    EXPECT_TRUE(Utility::isValidFileExtension("mP3"));
    EXPECT_TRUE(Utility::isValidFileExtension("FLAC"));
    EXPECT_FALSE(Utility::isValidFileExtension("Flac"));
    EXPECT_FALSE(Utility::isValidFileExtension("WAV"));
    EXPECT_FALSE(Utility::isValidFileExtension(".mp3"));
    EXPECT_FALSE(Utility::isValidFileExtension("aiff"));
    EXPECT_EQ(Utility::validExtensions(),
              QStringList({"mp3", "m4a", "MP3", "M4A", "mP3",  "m4A", "Mp3", "M4a",
                           "aac", "aif", "iff", "ra",  "RA",   "rA",  "Ra",  "wav",
                           "wma", "ogg", "mpa", "MPA", "flac", "FLAC"}));
}

TEST(Utility, FileDigestMatchesMd5sum) {
    QTemporaryDir dir;
    EXPECT_EQ(Utility::getMD5FromFile(makeFile(dir, "empty", 0)),
              "d41d8cd98f00b204e9800998ecf8427e");
    // Not a multiple of the read size, so the last partial chunk counts.
    const QString path = makeFile(dir, "odd", 3 * 4096 + 17, '\x9c');
    const ChildProcess::Result md5sum = ChildProcess::run(QStringLiteral("md5sum"), {path});
    ASSERT_EQ(md5sum.exitCode, 0);
    const QString expected = QString::fromLatin1(md5sum.output).section(' ', 0, 0);
    EXPECT_EQ(Utility::getMD5FromFile(path), expected);
    EXPECT_EQ(Utility::getMD5FromFile(dir.filePath("missing")), "");
    EXPECT_EQ(Utility::getMD5FromFile(dir.path()), "");
    EXPECT_EQ(Utility::getMD5FromFile(QString()), "");
}

TEST(Utility, TextDigestIsUpperCaseAndStopsAtNul) {
    EXPECT_EQ(Utility::getMD5FromString("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(Utility::getMD5FromString(QString::fromUtf8("abc\0def", 7)),
              "900150983CD24FB0D6963F7D28E17F72");
    // UTF-8 bytes, not UTF-16 code units.
    EXPECT_EQ(Utility::getMD5FromString(QString::fromUtf8("é")),
              "66DDCD97CFDEABB2F6FB8A999B4BC76F");
}

TEST(Utility, SessionIdentifierFromCookie) {
    EXPECT_EQ(Utility::getValidJSessionID("JSESSIONID=AB12; Path=/Vexmusic; HttpOnly"), "AB12");
    EXPECT_EQ(Utility::getValidJSessionID("x=1; JSESSIONID=zz"), "zz");
    EXPECT_FALSE(Utility::getValidJSessionID("SESSION=AB12; Path=/").has_value());
}

TEST(Utility, ReadFileAndDuplicates) {
    QTemporaryDir dir;
    const QString path = makeFile(dir, "data", 10, 'q');
    EXPECT_EQ(Utility::readFile(path, false).value_or(QByteArray()), QByteArray(10, 'q'));
    EXPECT_EQ(Utility::readFile(path, false, Utility::ReadOption::Uncached)->size(), 10);
    EXPECT_FALSE(Utility::readFile(dir.filePath("missing"), false).has_value());

    // Relative to the user's home folder.
    EXPECT_EQ(Utility::userDirectory(), QDir::homePath() + QStringLiteral("/"));
    const QString name = QStringLiteral("utility-read-%1").arg(QCoreApplication::applicationPid());
    QFile inHome(QDir::home().filePath(name));
    ASSERT_TRUE(inHome.open(QIODevice::WriteOnly));
    inHome.write("home");
    inHome.close();
    EXPECT_EQ(Utility::readFile(name, true).value_or(QByteArray()), QByteArray("home"));
    inHome.remove();

    const QSet<QString> duplicates = {path, QStringLiteral("/music/other.mp3")};
    EXPECT_TRUE(Utility::isTrackADuplicate(path, duplicates));
    EXPECT_FALSE(Utility::isTrackADuplicate(path + "/", duplicates));
    EXPECT_FALSE(Utility::isTrackADuplicate(path.toUpper(), duplicates));
    EXPECT_FALSE(Utility::isTrackADuplicate(path, {}));
}

} // namespace

// The library the sync made, played elsewhere: after a first sync by
// sonarbox-headless, a music player signed in with a player password finds
// every song under the names the service knows it by, and streams each one as
// the service holds it (uploads byte for byte, catalogue matches from the
// catalogue's own file).
#include "Headless.h"
#include "SyncWorld.h"

#include "ChildProcess.h"
#include "CloudProcess.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace {

QByteArray fetch(const QString &url) {
    const ChildProcess::Result r =
        ChildProcess::run(QStringLiteral("curl"), {QStringLiteral("-sf"), url}, {}, 60000);
    EXPECT_EQ(r.exitCode, 0) << url.toStdString();
    return r.output;
}

} // namespace

TEST(ListenAnywhere, AMusicPlayerFindsAndPlaysEverySongTheSyncPutInTheLibrary) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error)) << error.toStdString();
    Headless headless(world.configFile());
    ASSERT_EQ(headless.signIn(SyncWorld::Email, SyncWorld::Password), 0);
    QByteArray said;
    ASSERT_EQ(headless.runOver(world.musicFolder(), world.downloadFolder(),
                               {QStringLiteral("--once")}, &said),
              0)
        << said.toStdString();

    const ChildProcess::Result made =
        ChildProcess::run(CloudProcess::executable(),
                          {QStringLiteral("add-player-password"), QStringLiteral("--data"),
                           world.cloud.dataDir(), SyncWorld::Email, QStringLiteral("phone")});
    ASSERT_EQ(made.exitCode, 0) << made.output.toStdString();
    const QRegularExpressionMatch password =
        QRegularExpression(QStringLiteral("password: ([0-9a-f]+)"))
            .match(QString::fromUtf8(made.output));
    ASSERT_TRUE(password.hasMatch()) << made.output.toStdString();

    const auto api = [&](const QString &method, const QList<QPair<QString, QString>> &args) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("u"), SyncWorld::Email);
        query.addQueryItem(QStringLiteral("p"), password.captured(1));
        query.addQueryItem(QStringLiteral("v"), QStringLiteral("1.16.1"));
        query.addQueryItem(QStringLiteral("c"), QStringLiteral("phone"));
        query.addQueryItem(QStringLiteral("f"), QStringLiteral("json"));
        for (const auto &[key, value] : args)
            query.addQueryItem(key, value);
        return world.cloud.baseUrl() + QStringLiteral("/rest/") + method + QLatin1Char('?') +
               query.toString(QUrl::FullyEncoded);
    };

    const QJsonObject answer =
        QJsonDocument::fromJson(fetch(api(QStringLiteral("search3"),
                                          {{QStringLiteral("query"), QString()},
                                           {QStringLiteral("songCount"), QStringLiteral("50")}})))
            .object()
            .value(QStringLiteral("subsonic-response"))
            .toObject();
    ASSERT_EQ(answer.value(QStringLiteral("status")).toString(), QStringLiteral("ok"));
    const QJsonArray songs = answer.value(QStringLiteral("searchResult3"))
                                 .toObject()
                                 .value(QStringLiteral("song"))
                                 .toArray();

    // What each song must stream, by the title the service knows it by: the
    // catalogue's names for the matched copies (not the person's "Track N").
    QMap<QString, QString> expected;
    for (int i = 0; i < world.catalogueOriginals.size(); ++i)
        expected.insert(QStringLiteral("First Light %1").arg(i),
                        fileMd5(world.catalogueOriginals[i]));
    for (int i = 0; i < world.unknownSongs.size(); ++i)
        expected.insert(QStringLiteral("Own Song %1").arg(i),
                        world.md5.value(world.unknownSongs[i]));
    expected.insert(QStringLiteral("Far Away"), world.md5.value(world.cloudOnlySong));

    QMap<QString, QString> streamed;
    for (const QJsonValue &value : songs) {
        const QJsonObject song = value.toObject();
        const QString title = song.value(QStringLiteral("title")).toString();
        if (title.startsWith(QLatin1String("First Light"))) {
            EXPECT_EQ(song.value(QStringLiteral("artist")).toString(),
                      QStringLiteral("The Testers"));
        }
        const QByteArray bytes =
            fetch(api(QStringLiteral("stream"),
                      {{QStringLiteral("id"), song.value(QStringLiteral("id")).toString()}}));
        streamed.insert(
            title,
            QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
    }
    EXPECT_EQ(streamed, expected);
}

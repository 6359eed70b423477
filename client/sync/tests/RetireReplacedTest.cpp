// Letting the cloud go of the versions that newer ones replaced, against a
// scripted gateway: what is asked, and what the track keeps when the answer
// is not a success.
#include "TransferFixture.h"

#include "sync/RetireReplaced.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

class RetireReplacedTest : public TransferTest {
protected:
    // A track stored as the new version of the cloud's item `replaces`.
    static AudioPtr storeVersion(const QString &checksum, const QString &userMediaID,
                                 const QString &replaces) {
        auto track = std::make_shared<Audio>();
        track->fileURL = QStringLiteral("/music/") + checksum + QStringLiteral(".mp3");
        track->name = checksum;
        track->checksum = checksum;
        track->userMediaID = userMediaID;
        track->replaces = replaces;
        GenericDAO::instance().save(track);
        return stored(checksum);
    }
    static AudioPtr stored(const QString &checksum) {
        return GenericDAO::instance().getById(QStringLiteral("audioByCode"), checksum);
    }
    // The retire requests that reached the gateway, as JSON objects.
    QList<QJsonObject> retires() const {
        QList<QJsonObject> asked;
        for (const scripted::Request &r : serviceRequests()) {
            if (r.target.endsWith("/retireUserMedia"))
                asked << QJsonDocument::fromJson(r.body).object();
        }
        return asked;
    }
    static QJsonObject retire(qint64 item, qint64 replacement) {
        return {{QStringLiteral("userMediaId"), item}, {QStringLiteral("replacedBy"), replacement}};
    }
    int runRetire() {
        int retired = -1;
        EXPECT_TRUE(runInBackground([&] {
            retired = RetireReplaced::run(Sonarbox::instance().store(),
                                          Sonarbox::instance().serviceClient(),
                                          Sonarbox::instance().runContext());
        }));
        return retired;
    }
};

} // namespace

// Only a version that has an item of its own replaces the old one; one matched
// to the very item it replaces has nothing to let go of. Once the service has
// answered, the track no longer asks.
TEST_F(RetireReplacedTest, OnlyVersionsWithTheirOwnItemAskAndEachAsksOnce) {
    storeVersion(QStringLiteral("aaa"), QStringLiteral("21"), QStringLiteral("7"));
    storeVersion(QStringLiteral("bbb"), QStringLiteral("-1"), QStringLiteral("8"));
    storeVersion(QStringLiteral("ccc"), QStringLiteral("9"), QStringLiteral("9"));
    server->setHandler(withTokens([](const scripted::Request &) {
        return scripted::Reply::json(R"({"responseStatus":"SUCCESS"})");
    }));

    EXPECT_EQ(runRetire(), 1);
    EXPECT_EQ(retires(), QList<QJsonObject>{retire(7, 21)});
    EXPECT_FALSE(stored(QStringLiteral("aaa"))->replaces);
    EXPECT_EQ(stored(QStringLiteral("bbb"))->replaces, QStringLiteral("8"));
    EXPECT_FALSE(stored(QStringLiteral("ccc"))->replaces);

    // The upload of the waiting version went through since.
    const AudioPtr uploaded = stored(QStringLiteral("bbb"));
    uploaded->userMediaID = QStringLiteral("22");
    GenericDAO::instance().save(uploaded);
    EXPECT_EQ(runRetire(), 1);
    EXPECT_EQ(retires(), (QList<QJsonObject>{retire(7, 21), retire(8, 22)}));
    EXPECT_FALSE(stored(QStringLiteral("bbb"))->replaces);
}

// A refusal, a failure or no answer at all (a retire the service did whose
// answer was lost) leaves the track to ask again on the next sync; the
// service answers a repeated retire as a success.
TEST_F(RetireReplacedTest, AnUnansweredOrRefusedRetireIsAskedAgainNextTime) {
    storeVersion(QStringLiteral("aaa"), QStringLiteral("21"), QStringLiteral("7"));
    scripted::Reply closed;
    closed.mode = scripted::Reply::Mode::Close;
    for (const scripted::Reply &reply :
         {scripted::Reply::json(R"({"responseStatus":"FAILED","responseText":"busy"})", 503),
          scripted::Reply::json(R"({"responseStatus":"FAILED"})", 404), closed}) {
        server->setHandler(withTokens([reply](const scripted::Request &) { return reply; }));
        EXPECT_EQ(runRetire(), 0);
        EXPECT_EQ(stored(QStringLiteral("aaa"))->replaces, QStringLiteral("7"));
    }
    server->setHandler(withTokens([](const scripted::Request &) {
        return scripted::Reply::json(R"({"responseStatus":"SUCCESS"})");
    }));
    EXPECT_EQ(runRetire(), 1);
    // Each sync asked (a closed connection is tried twice), the same each time.
    const QList<QJsonObject> asked = retires();
    EXPECT_GE(asked.size(), 4);
    EXPECT_EQ(asked.count(retire(7, 21)), asked.size());
    EXPECT_FALSE(stored(QStringLiteral("aaa"))->replaces);
}

// Notifications as a notification service from Debian (dunst, on an X server
// and a session bus of the test's own) receives and shows them.
#include "ChildProcess.h"
#include "TestEnvironment.h"
#include "XServer.h"
#include "sync/DesktopNotifier.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class NotificationService : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ChildProcess::Options quiet;
        quiet.output = ChildProcess::Output::Discard;
        quiet.errorFile = m_dir.filePath(QStringLiteral("services.log"));
        ASSERT_TRUE(m_x.start(640, 200, quiet.errorFile)) << log();

        m_address = QStringLiteral("unix:path=") + m_dir.filePath(QStringLiteral("bus"));
        ASSERT_TRUE(m_bus.start(QStringLiteral("dbus-daemon"),
                                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                 QStringLiteral("--address=") + m_address},
                                quiet));
        QFile config(m_dir.filePath(QStringLiteral("dunstrc")));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("[global]\n    icon_path = " SONARBOX_ICONS_DIR "/48x48/apps\n"
                     "[urgency_normal]\n    timeout = 0\n");
        config.close();
        quiet.environment = {QStringLiteral("DISPLAY=") + m_x.display(),
                             QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + m_address};
        ASSERT_TRUE(TestEnvironment::waitUntil(
            [&] { return QFileInfo::exists(m_dir.filePath(QStringLiteral("bus"))); }, 10000))
            << log();
        ASSERT_TRUE(m_service.start(QStringLiteral("dunst"),
                                    {QStringLiteral("-config"), config.fileName()}, quiet));
        // Asked of the bus, not of the service: asking it before it is there
        // would have the bus start another one, without a display.
        ASSERT_TRUE(TestEnvironment::waitUntil(
            [&] {
                return !m_service.isRunning() ||
                       onBus(QStringLiteral("dbus-send"),
                             {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                              QStringLiteral("--dest=org.freedesktop.DBus"),
                              QStringLiteral("/org/freedesktop/DBus"),
                              QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                              QStringLiteral("string:org.freedesktop.Notifications")})
                           .contains("boolean true");
            },
            20000))
            << log();
        ASSERT_TRUE(m_service.isRunning()) << log();
        // This process's first look at the session bus is the test's.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    }

    // What a program run on the test's session bus prints.
    QByteArray onBus(const QString &program, const QStringList &args) const {
        ChildProcess::Options options = ChildProcess::captured();
        options.environment = {QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + m_address};
        return ChildProcess::run(program, args, {}, 10000, options).output;
    }
    QByteArray dunstctl(const QStringList &args) const {
        return onBus(QStringLiteral("dunstctl"), args);
    }

    std::string log() const {
        QFile file(m_dir.filePath(QStringLiteral("services.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    QTemporaryDir m_dir;
    QString m_address;
    XServer m_x;
    ChildProcess m_bus;
    ChildProcess m_service;
};

// The fields of the notifications the service has shown and closed, as text.
QList<QJsonObject> history(const QByteArray &json) {
    QList<QJsonObject> shown;
    const QJsonArray data = QJsonDocument::fromJson(json).object().value("data").toArray();
    for (const QJsonValue &notification : data.at(0).toArray()) {
        QJsonObject fields;
        const QJsonObject raw = notification.toObject();
        for (auto it = raw.begin(); it != raw.end(); ++it)
            fields.insert(it.key(), it.value().toObject().value("data"));
        shown << fields;
    }
    return shown;
}

TEST_F(NotificationService, ShowsTheNotificationWithTheProgramsNameAndIcon) {
    ASSERT_TRUE(DesktopNotifier::notify(QStringLiteral("Sign-in needed"),
                                        QStringLiteral("Open Sonarbox and sign in again.")));
    DesktopNotifier::flush();
    ASSERT_TRUE(TestEnvironment::waitUntil(
        [&] {
            return dunstctl({QStringLiteral("count"), QStringLiteral("displayed")}) == "1\n";
        },
        10000))
        << log();
    dunstctl({QStringLiteral("close-all")});
    const QList<QJsonObject> shown = history(dunstctl({QStringLiteral("history")}));
    ASSERT_EQ(shown.size(), 1) << log();
    EXPECT_EQ(shown[0].value("appname").toString(), "Sonarbox");
    EXPECT_EQ(shown[0].value("summary").toString(), "Sign-in needed");
    EXPECT_EQ(shown[0].value("body").toString(), "Open Sonarbox and sign in again.");
    // The service found the installed application icon by its name.
    EXPECT_TRUE(shown[0].value("icon_path").toString().endsWith("/org.sonarbox.Sonarbox.png"))
        << shown[0].value("icon_path").toString().toStdString();
}

} // namespace

// The program `sonarbox` started as a user starts it (offscreen, a HOME of its
// own), up to its first painted screen.
#include "ChildProcess.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        const QString base = m_nobody.url();
        QFile ini(m_root.filePath(QStringLiteral("sonarbox.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[service]\ngatewayBaseUrl=%1\nwebSiteUrl=%1\n"
                                 "[analytics]\npropertyId=UA-00000000-1\ncollectorUrl=%1/collect\n"
                                 "[app]\nLandingPageEnabled=true\nTrackWithGoogleAnalytics=true\n")
                      .arg(base)
                      .toUtf8());
        m_config = ini.fileName();
    }

    QString home() const { return m_root.filePath(QStringLiteral("home")); }

    // The program's own log lines ("sonarbox.<category>: <text>") of one
    // start, as --verbose shows them on standard error beside the log file.
    QStringList start() {
        const QString errors = m_root.filePath(QStringLiteral("stderr-%1.txt").arg(++m_starts));
        ChildProcess::Options options;
        options.output = ChildProcess::Output::Discard;
        options.errorFile = errors;
        options.environment = {
            QStringLiteral("HOME=%1").arg(home()),
            QStringLiteral("XDG_CONFIG_HOME=%1/.config").arg(home()),
            QStringLiteral("XDG_DATA_HOME=%1/.local/share").arg(home()),
            QStringLiteral("XDG_CACHE_HOME=%1/.cache").arg(home()),
            QStringLiteral("QT_QPA_PLATFORM=offscreen"),
            QStringLiteral("QT_MESSAGE_PATTERN=%{category}: %{message}"),
            QStringLiteral("SONARBOX_QUIT_AFTER_FIRST_PAINT=1"),
        };
        const ChildProcess::Result result =
            ChildProcess::run(QStringLiteral(SONARBOX_EXE),
                              {QStringLiteral("--verbose"), QStringLiteral("--config"), m_config},
                              {}, 60000, options);
        QFile file(errors);
        file.open(QIODevice::ReadOnly);
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        EXPECT_EQ(result.exitCode, 0) << lines.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(lines.contains(QStringLiteral("sonarbox: first paint")))
            << lines.join(QLatin1Char('\n')).toStdString();
        return lines.filter(QRegularExpression(QStringLiteral("^sonarbox\\.")));
    }

    static int firstRunEvents(const QStringList &lines) {
        return int(lines.filter(QStringLiteral("Google Analytics: FirstRun")).size());
    }

    QTemporaryDir m_root;
    const TestEnvironment::RefusingPort m_nobody;
    QString m_config;
    int m_starts = 0;
};

} // namespace

TEST_F(Startup, LaunchLinesComeFirstAndTheFirstRunIsCountedOncePerVersion) {
    const QStringList first = start();
    ASSERT_GE(first.size(), 3);
    EXPECT_TRUE(first[0].startsWith(QStringLiteral("sonarbox.shell: === Application Launched v.")))
        << first[0].toStdString();
    EXPECT_TRUE(first[1].startsWith(QStringLiteral("sonarbox.shell: === OS Version: ")))
        << first[1].toStdString();
    EXPECT_TRUE(first[2].startsWith(QStringLiteral("sonarbox.shell: === Time Zone: ")))
        << first[2].toStdString();
    EXPECT_EQ(firstRunEvents(first), 1) << first.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(first.filter(QStringLiteral("No system tray")).size(), 1);

    const QStringList second = start();
    EXPECT_EQ(firstRunEvents(second), 0) << second.join(QLatin1Char('\n')).toStdString();

    // A stored version of another release counts as a first run again.
    {
        QSettings preferences(home() + QStringLiteral("/.config/Sonarbox/Sonarbox.conf"),
                              QSettings::IniFormat);
        ASSERT_TRUE(preferences.contains(QStringLiteral("version")));
        preferences.setValue(QStringLiteral("version"), 0.01);
    }
    EXPECT_EQ(firstRunEvents(start()), 1);
}

TEST_F(Startup, FirstStartListsTheProgramAmongTheLoginItems) {
    start();
    QFile entry(home() + QStringLiteral("/.config/autostart/sonarbox.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    const QString program = QFileInfo(QStringLiteral(SONARBOX_EXE)).canonicalFilePath();
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=") + program)) << text.toStdString();
    EXPECT_TRUE(text.contains(m_config)) << text.toStdString();
}

// sonarbox on an X11 desktop as people have one: Xvfb, openbox, and a tint2
// panel with a system tray (XEmbed, as Qt uses it without a session bus).
// The panel holds nothing but the tray, so whatever on it is not the panel's
// colour is the program's icon.
#include "ChildProcess.h"
#include "TestEnvironment.h"
#include "XServer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;
constexpr int kPanelHeight = 32;

int luma(QRgb c) {
    return (299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c)) / 1000;
}

class Desktop : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(
            m_x.start(kScreenWidth, kScreenHeight, m_dir.filePath(QStringLiteral("desktop.log"))))
            << "Xvfb did not start:\n"
            << desktopLog();
        m_env = {QStringLiteral("DISPLAY=") + m_x.display(),
                 QStringLiteral("HOME=") + home(),
                 QStringLiteral("XDG_CONFIG_HOME=%1/.config").arg(home()),
                 QStringLiteral("XDG_DATA_HOME=%1/.local/share").arg(home()),
                 QStringLiteral("XDG_CACHE_HOME=%1/.cache").arg(home()),
                 QStringLiteral("XDG_STATE_HOME=%1/.local/state").arg(home()),
                 QStringLiteral("QT_QPA_PLATFORM=xcb"),
                 QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QStringLiteral("SONARBOX_CONFIG")};
        QDir().mkpath(home());
        ChildProcess::Options quiet;
        quiet.output = ChildProcess::Output::Discard;
        quiet.errorFile = m_dir.filePath(QStringLiteral("desktop.log"));
        quiet.environment = m_env;
        ASSERT_TRUE(m_windowManager.start(QStringLiteral("openbox"), {}, quiet));

        m_panelColour = QColor(QLatin1String(GetParam())).rgb();
        const QString panelConfig = m_dir.filePath(QStringLiteral("tint2rc"));
        QFile rc(panelConfig);
        ASSERT_TRUE(rc.open(QIODevice::WriteOnly));
        rc.write(QStringLiteral("rounded = 0\nborder_width = 0\nbackground_color = %1 100\n"
                                "border_color = %1 100\n"
                                "panel_items = S\npanel_size = 100% %2\n"
                                "panel_position = top center horizontal\n"
                                "panel_background_id = 1\nsystray_background_id = 1\n"
                                "systray_padding = 4 4 4\nsystray_icon_size = 22\n"
                                "systray_icon_asb = 100 0 0\n")
                     .arg(QLatin1String(GetParam()))
                     .arg(kPanelHeight)
                     .toUtf8());
        rc.close();
        ASSERT_TRUE(
            m_panel.start(QStringLiteral("tint2"), {QStringLiteral("-c"), panelConfig}, quiet));
        ASSERT_TRUE(TestEnvironment::waitUntil(
            [&] {
                return tool(QStringLiteral("xdotool"),
                            {QStringLiteral("search"), QStringLiteral("--class"),
                             QStringLiteral("tint2")})
                           .exitCode == 0;
            },
            20000))
            << "tint2 did not start:\n"
            << desktopLog();

        // The service is nobody: the program starts, cannot sign anyone in,
        // and still sits in the tray.
        const QString config = m_dir.filePath(QStringLiteral("sonarbox.ini"));
        QFile ini(config);
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[service]\ngatewayBaseUrl=%1\nwebSiteUrl=%1\n")
                      .arg(m_nobody.url())
                      .toUtf8());
        ini.close();
        ChildProcess::Options program = quiet;
        program.errorFile = m_dir.filePath(QStringLiteral("sonarbox.err"));
        ASSERT_TRUE(m_sonarbox.start(QStringLiteral(SONARBOX_EXE),
                                     {QStringLiteral("--config"), config}, program));
    }

    QString home() const { return m_dir.filePath(QStringLiteral("home")); }

    // What the X server, the window manager and the panel said.
    std::string desktopLog() const {
        QFile f(m_dir.filePath(QStringLiteral("desktop.log")));
        f.open(QIODevice::ReadOnly);
        return f.readAll().toStdString();
    }

    ChildProcess::Result tool(const QString &program, const QStringList &args) {
        ChildProcess::Options o = ChildProcess::captured();
        o.environment = m_env;
        o.errorFile = m_dir.filePath(QStringLiteral("tools.log"));
        return ChildProcess::run(program, args, {}, 30000, o);
    }

    QImage screenshot() {
        const ChildProcess::Result r =
            tool(QStringLiteral("import"),
                 {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")});
        return QImage::fromData(r.output, "PNG").convertToFormat(QImage::Format_RGB32);
    }

    // The pixels of the panel that stand out from it (a luma difference a
    // person sees at a glance), and where they are.
    int iconPixels(const QImage &screen, QRect *where) const {
        int count = 0;
        QRect box;
        for (int y = 0; y < kPanelHeight && y < screen.height(); ++y) {
            for (int x = 0; x < screen.width(); ++x) {
                if (std::abs(luma(screen.pixel(x, y)) - luma(m_panelColour)) > 48) {
                    ++count;
                    box |= QRect(x, y, 1, 1);
                }
            }
        }
        *where = box;
        return count;
    }

    std::string errors() const {
        QFile f(m_dir.filePath(QStringLiteral("sonarbox.err")));
        f.open(QIODevice::ReadOnly);
        return f.readAll().toStdString();
    }

    QTemporaryDir m_dir;
    QStringList m_env;
    QRgb m_panelColour = 0;
    const TestEnvironment::RefusingPort m_nobody;
    // Stopped in reverse order: the program, then the desktop under it.
    XServer m_x;
    ChildProcess m_windowManager;
    ChildProcess m_panel;
    ChildProcess m_sonarbox;
};

TEST_P(Desktop, TheTrayIconStandsOutItsMenuOpensAndQuitEndsTheProgram) {
    // A 22-pixel icon is 484 pixels; its disc covers most of them.
    QRect icon;
    int seen = 0;
    const bool shown = TestEnvironment::waitUntil(
        [&] {
            seen = iconPixels(screenshot(), &icon);
            return seen >= 200 || !m_sonarbox.isRunning();
        },
        30000);
    ASSERT_TRUE(shown && m_sonarbox.isRunning()) << errors();
    EXPECT_GE(seen, 200) << "on a " << GetParam() << " panel\n" << errors();
    EXPECT_LE(icon.width(), 32);
    EXPECT_LE(icon.height(), 32);

    const QImage before = screenshot();
    const QPoint centre = icon.center();
    ASSERT_EQ(tool(QStringLiteral("xdotool"),
                   {QStringLiteral("mousemove"), QString::number(centre.x()),
                    QString::number(centre.y()), QStringLiteral("click"), QStringLiteral("3")})
                  .exitCode,
              0);
    // The menu: a block of changed pixels below the panel.
    const bool opened = TestEnvironment::waitUntil(
        [&] {
            const QImage now = screenshot();
            int changed = 0;
            for (int y = kPanelHeight; y < now.height(); ++y)
                for (int x = 0; x < now.width(); ++x)
                    changed += now.pixel(x, y) != before.pixel(x, y);
            return changed > 5000;
        },
        10000);
    EXPECT_TRUE(opened) << "no menu opened";

    // Quit is the menu's last item: Up from no selection comes to it.
    tool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Up")});
    tool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
    ASSERT_TRUE(m_sonarbox.waitForFinished(15000)) << "Quit did not end the program\n" << errors();
    EXPECT_EQ(m_sonarbox.exitCode(), 0) << errors();
}

INSTANTIATE_TEST_SUITE_P(DarkAndLightPanels, Desktop, ::testing::Values("#202020", "#f0f0f0"),
                         [](const auto &info) {
                             return std::string(info.index == 0 ? "Dark" : "Light");
                         });

} // namespace

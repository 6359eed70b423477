#include "DeploymentConfig.h"

#include "DataFolders.h"
#include "Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <deque>

namespace {

QMutex g_lock;
DeploymentConfig *g_current = nullptr;

// Callers hold references to the configuration that was current when they
// asked, so a replaced one must stay valid. Every configuration loaded is
// owned here for the life of the process (never destroyed, so that nothing
// running during exit finds it gone); a deque keeps their addresses.
DeploymentConfig *keep(DeploymentConfig config) {
    static auto *loaded = new std::deque<DeploymentConfig>;
    loaded->push_back(std::move(config));
    return &loaded->back();
}

QString trimmedUrl(QString url) {
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

// "~" and "~/…" name the home folder.
QString expandedHome(const QString &path) {
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

// A relative path is taken from the Sonarbox data folder.
QString inDataFolder(const QString &path) {
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).filePath(path);
}

bool matches(const QString &pattern, const QString &text) {
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

} // namespace

DeploymentConfig DeploymentConfig::read(const QString &path, QString *error, bool *ok) {
    DeploymentConfig c;
    *ok = false;
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile() || !info.isReadable()) {
        if (error)
            *error = QStringLiteral("cannot read the configuration file %1").arg(path);
        return c;
    }
    QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        if (error)
            *error = QStringLiteral("the configuration file %1 is not a valid INI file").arg(path);
        return c;
    }
    // A deployment file needs to hold only what differs from the built-in values.
    QSettings defaults(defaultFile(), QSettings::IniFormat);
    struct Layered {
        QSettings &file;
        QSettings &defaults;
        QVariant value(const QString &key, const QVariant &fallback = {}) const {
            return file.value(key, defaults.value(key, fallback));
        }
    } ini{file, defaults};
    const auto text = [&](const char *key) { return ini.value(QLatin1String(key)).toString(); };
    c.source = path;
    c.gatewayBaseUrl = trimmedUrl(text("service/gatewayBaseUrl"));
    c.webSiteUrl = trimmedUrl(text("service/webSiteUrl"));
    // The monitor watches the gateway unless the deployment names another
    // target, so that a file that moves only the gateway is not watched on
    // the old address (and taken for offline for good).
    const QUrl gateway(c.gatewayBaseUrl);
    const quint16 gatewayPort =
        quint16(gateway.port(gateway.scheme() == QLatin1String("https") ? 443 : 80));
    c.reachabilityHost = text("service/reachabilityHost").trimmed();
    if (c.reachabilityHost.isEmpty()) {
        c.reachabilityHost = gateway.host();
        c.reachabilityPort = gatewayPort;
    } else {
        const quint16 fallback = c.reachabilityHost == gateway.host() ? gatewayPort : 80;
        c.reachabilityPort =
            quint16(ini.value(QStringLiteral("service/reachabilityPort"), fallback).toUInt());
    }
    c.caFile = text("service/caFile").trimmed();
    c.recognitionClientId = text("recognition/clientId");
    c.recognitionClientTag = text("recognition/clientTag");
    c.recognitionInitData = text("recognition/initData");
    c.mpdHost = text("mpd/host");
    c.mpdPort = quint16(ini.value(QStringLiteral("mpd/port"), 6600).toUInt());
    c.mpdMusicFolder = text("mpd/musicFolder");
    c.mpdTimeoutMs = ini.value(QStringLiteral("mpd/timeoutMs"), 10000).toInt();
    c.uploadLimitKiBps =
        parseTransferLimit(ini.value(QStringLiteral("transfers/uploadLimitKiBps"), 0).toString());
    c.downloadLimitKiBps =
        parseTransferLimit(ini.value(QStringLiteral("transfers/downloadLimitKiBps"), 0).toString());
    c.facebookAppId = text("facebook/appId");
    c.facebookWebHost = text("facebook/webHost");
    c.facebookGraphHost = text("facebook/graphHost");
    c.facebookRestHost = text("facebook/restHost");
    c.analyticsPropertyId = text("analytics/propertyId");
    c.analyticsCollectorUrl = text("analytics/collectorUrl");
    c.landingPageEnabled = ini.value(QStringLiteral("app/LandingPageEnabled"), true).toBool();
    c.trackWithGoogleAnalytics =
        ini.value(QStringLiteral("app/TrackWithGoogleAnalytics"), false).toBool();
    c.syncOnMeteredConnections =
        ini.value(QStringLiteral("sync/onMeteredConnections"), false).toBool();
    c.fileSettleMs = std::max(0, ini.value(QStringLiteral("sync/fileSettleMs"), 5000).toInt());
    c.bundleVersion = QStringLiteral(SONARBOX_VERSION);
    c.bundleShortVersionString = QStringLiteral(SONARBOX_VERSION);
    *ok = true;
    return c;
}

std::optional<int> DeploymentConfig::parseTransferLimit(const QString &text) {
    bool ok = false;
    const int kiBps = text.trimmed().toInt(&ok);
    if (!ok || kiBps < 0 || kiBps > MaximumTransferLimitKiBps)
        return std::nullopt;
    return kiBps;
}

QString DeploymentConfig::recognitionInitDataPath() const {
    return inDataFolder(recognitionInitData);
}

QString DeploymentConfig::mpdMusicFolderPath() const {
    return expandedHome(mpdMusicFolder);
}

QString DeploymentConfig::caFilePath() const {
    return inDataFolder(expandedHome(caFile));
}

QList<QSslCertificate> DeploymentConfig::caFileCertificates(QString *problem) const {
    const QString path = caFilePath();
    if (path.isEmpty())
        return {};
    const auto fail = [&](const QString &why) {
        if (problem)
            *problem = QStringLiteral("service/caFile %1 %2").arg(path, why);
        return QList<QSslCertificate>();
    };
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return fail(QStringLiteral("does not exist"));
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    QList<QSslCertificate> certificates = QSslCertificate::fromDevice(&file, QSsl::Pem);
    certificates.removeIf([](const QSslCertificate &c) { return c.isNull(); });
    if (certificates.isEmpty())
        return fail(QStringLiteral("holds no PEM certificate"));
    return certificates;
}

QStringList DeploymentConfig::warnings() const {
    QStringList w;
    if (gatewayBaseUrl.isEmpty())
        w << QStringLiteral("service/gatewayBaseUrl is empty");
    if (webSiteUrl.isEmpty())
        w << QStringLiteral("service/webSiteUrl is empty");
    if (reachabilityHost.isEmpty() || reachabilityPort == 0)
        w << QStringLiteral("service/reachabilityHost and reachabilityPort name no target");
    QString caProblem;
    caFileCertificates(&caProblem);
    if (!caProblem.isEmpty())
        w << caProblem;
    if (!uploadLimitKiBps)
        w << QStringLiteral("transfers/uploadLimitKiBps must be a whole number from 0 to %1")
                 .arg(MaximumTransferLimitKiBps);
    if (!downloadLimitKiBps)
        w << QStringLiteral("transfers/downloadLimitKiBps must be a whole number from 0 to %1")
                 .arg(MaximumTransferLimitKiBps);
    if (!matches(QStringLiteral("[0-9]{7}"), recognitionClientId))
        w << QStringLiteral("recognition/clientId must be 7 decimal digits");
    if (!matches(QStringLiteral("[0-9A-F]{32}"), recognitionClientTag))
        w << QStringLiteral("recognition/clientTag must be 32 upper-case hexadecimal digits");
    if (!matches(QStringLiteral("[0-9]{15}"), facebookAppId))
        w << QStringLiteral("facebook/appId must be 15 decimal digits");
    return w;
}

QString DeploymentConfig::defaultFile() {
    return DataFolders::dataFile(QStringLiteral("sonarbox.ini"));
}

const DeploymentConfig &DeploymentConfig::current() {
    QMutexLocker lock(&g_lock);
    if (!g_current) {
        bool ok = false;
        g_current = keep(read(defaultFile(), nullptr, &ok));
    }
    return *g_current;
}

std::optional<DeploymentConfig> DeploymentConfig::fromFile(const QString &path, QString *error) {
    bool ok = false;
    DeploymentConfig c = read(path, error, &ok);
    if (!ok)
        return std::nullopt;
    return c;
}

bool DeploymentConfig::load(const QString &path, QString *error) {
    bool ok = false;
    DeploymentConfig c = read(path, error, &ok);
    if (!ok)
        return false;
    for (const QString &w : c.warnings())
        qCWarning(lcSettings).noquote() << "Configuration" << path << ":" << w;
    QMutexLocker lock(&g_lock);
    g_current = keep(std::move(c));
    return true;
}

bool DeploymentConfig::loadFromArguments(const QStringList &arguments, QString *error) {
    QString path;
    const qsizetype at = arguments.indexOf(QStringLiteral("--config"));
    if (at >= 0) {
        if (at + 1 >= arguments.size()) {
            if (error)
                *error = QStringLiteral("--config needs a file");
            return false;
        }
        path = arguments.at(at + 1);
    } else {
        for (const QString &arg : arguments) {
            if (arg.startsWith(QStringLiteral("--config=")))
                path = arg.mid(9);
        }
    }
    if (path.isEmpty())
        path = qEnvironmentVariable("SONARBOX_CONFIG");
    if (path.isEmpty()) {
        // Without its default the program would run against no service at
        // all: an installation that lost its data folder says so.
        bool ok = false;
        read(defaultFile(), error, &ok);
        resetToDefault();
        return ok;
    }
    return load(path, error);
}

void DeploymentConfig::resetToDefault() {
    bool ok = false;
    DeploymentConfig c = read(defaultFile(), nullptr, &ok);
    QMutexLocker lock(&g_lock);
    g_current = keep(std::move(c));
}

#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

#include <optional>

// The values each deployment supplies: service addresses, recognition
// credentials, Facebook and analytics settings, and the application's
// information keys. Read from one INI file: `--config FILE`, else the
// SONARBOX_CONFIG variable, else the default installed with the program
// (share/sonarbox/sonarbox.ini, see DataFolders.h).
class DeploymentConfig {
public:
    static const DeploymentConfig &current();
    // The installed default, which also supplies every value a chosen file leaves out.
    static QString defaultFile();
    // Loads the file chosen by the arguments or the environment (else the
    // default) and makes it current. Answers false (and keeps the default)
    // when that file cannot be read; `error` then says why.
    static bool loadFromArguments(const QStringList &arguments, QString *error = nullptr);
    static bool load(const QString &path, QString *error = nullptr);
    static void resetToDefault();
    // The values of `path` (with the installed default's for what it leaves
    // out) without making them current: a configuration of its own for an
    // engine. Nothing when the file cannot be read; `error` then says why.
    static std::optional<DeploymentConfig> fromFile(const QString &path, QString *error = nullptr);

    QString source; // the file the values came from

    QString gatewayBaseUrl;
    QString webSiteUrl;
    // The network monitor's target: the gateway's host and port unless the
    // file names a host.
    QString reachabilityHost;
    quint16 reachabilityPort = 0;
    // An extra CA certificate file (PEM) trusted besides the system's, for a
    // server whose certificate no public authority signed.
    QString caFile;

    QString recognitionClientId;
    QString recognitionClientTag;
    QString recognitionInitData;

    // The music player's library (library choice 1): an MPD server and the
    // folder it serves, which songs handed to it are copied into.
    QString mpdHost;
    quint16 mpdPort = 6600;
    QString mpdMusicFolder;
    int mpdTimeoutMs = 10000;

    // The sync's upload and download limits in KiB/s (0: no limit) until the
    // person chooses their own; nothing when the file's value is not one
    // (warnings() says so, and no limit holds).
    std::optional<int> uploadLimitKiBps = 0;
    std::optional<int> downloadLimitKiBps = 0;
    static constexpr int MaximumTransferLimitKiBps = 1000000;
    // A transfer limit as written: a whole number from 0 to the maximum.
    static std::optional<int> parseTransferLimit(const QString &text);

    QString facebookAppId;
    QString facebookWebHost;
    QString facebookGraphHost;
    QString facebookRestHost;

    QString analyticsPropertyId;
    QString analyticsCollectorUrl;

    bool landingPageEnabled = true;
    bool trackWithGoogleAnalytics = false;
    // Whether syncing goes on over a metered connection until the person
    // chooses otherwise.
    bool syncOnMeteredConnections = false;
    // How long a new file's size and times must have rested before a single
    // sync (sonarbox-headless --once) reads it; one that some process holds
    // open for writing is left whatever its age.
    int fileSettleMs = 5000;

    // From the build.
    QString bundleVersion;            // "CFBundleVersion"
    QString bundleShortVersionString; // "CFBundleShortVersionString"

    // The recognition initialisation data as an absolute path: a relative
    // value is taken from the Sonarbox data folder.
    QString recognitionInitDataPath() const;
    // MPD's music folder with "~/" expanded.
    QString mpdMusicFolderPath() const;
    // The extra CA file as an absolute path ("~/" expanded, a relative value
    // taken from the Sonarbox data folder); empty when none is named.
    QString caFilePath() const;
    // The certificates of the extra CA file; empty with `problem` set when
    // the file is missing, unreadable or holds no certificate.
    QList<QSslCertificate> caFileCertificates(QString *problem = nullptr) const;

    // Problems with the values (malformed credentials, missing addresses).
    QStringList warnings() const;

private:
    static DeploymentConfig read(const QString &path, QString *error, bool *ok);
};

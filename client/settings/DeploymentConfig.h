#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

// The values each deployment supplies: service addresses, recognition
// credentials, Facebook and analytics settings, and the application's
// information keys. Read from one INI file: `--config FILE`, else the
// SONARBOX_CONFIG variable, else the default built into the program.
class DeploymentConfig {
public:
    static const DeploymentConfig &current();
    // Loads the file chosen by the arguments or the environment and makes it
    // current. Answers false (and keeps the built-in default) when the chosen
    // file cannot be read; `error` then says why.
    static bool loadFromArguments(const QStringList &arguments, QString *error = nullptr);
    static bool load(const QString &path, QString *error = nullptr);
    static void resetToDefault();

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

    QString facebookAppId;
    QString facebookWebHost;
    QString facebookGraphHost;
    QString facebookRestHost;

    QString analyticsPropertyId;
    QString analyticsCollectorUrl;

    bool landingPageEnabled = true;
    bool trackWithGoogleAnalytics = false;

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

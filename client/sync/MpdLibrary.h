#pragma once

#include "MusicLibrary.h"

#include <QString>

#include <memory>

struct mpd_connection;

// The music player's library as an MPD server holds it, through libmpdclient.
// Every call opens its own connection with a time-out, so a server that has
// gone away costs one time-out, never a hang, and calls may come from any
// thread.
//
// The hand-off copies a song into <musicFolder>/Sonarbox/ under the first free
// name ("name.ext", "name (2).ext" …; an existing file is never replaced),
// has MPD update exactly that path, waits until MPD knows the song and adds it
// to the stored playlist "Sonarbox". When any step fails the copy is removed.
class DeploymentConfig;

class MpdLibrary : public MusicLibrary {
public:
    struct Settings {
        QString host = QStringLiteral("127.0.0.1");
        quint16 port = 6600;
        QString musicFolder; // MPD's music_directory, as a plain path
        int timeoutMs = 10000;
    };
    // The settings of the deployment configuration's [mpd] section.
    static Settings fromDeployment(const DeploymentConfig &config);

    explicit MpdLibrary(Settings settings);

    std::optional<QList<LibraryTrack>> tracks() override;
    std::optional<QString> addSong(const QString &path) override;
    // MPD's `idle database` event, on a connection and thread of its own.
    std::unique_ptr<LibraryWatch> watchChanges(std::function<void()> changed) override;

    // The stored playlist that received songs are added to.
    static QString playlistName() { return QStringLiteral("Sonarbox"); }
    // The folder of the music folder that received songs are copied into.
    static QString songFolderName() { return QStringLiteral("Sonarbox"); }

private:
    struct ConnectionFree {
        void operator()(mpd_connection *c) const;
    };
    using Connection = std::unique_ptr<mpd_connection, ConnectionFree>;

    // The music folder without a trailing "/"; empty when none is configured.
    QString musicFolder() const;
    Connection connect() const;
    // Copies the file under the first free name; its URI in MPD's database.
    std::optional<QString> copyIntoLibrary(const QString &path) const;
    bool updateAndWait(mpd_connection *c, const QString &uri) const;
    bool knowsSong(mpd_connection *c, const QString &uri) const;

    Settings m_settings;
};

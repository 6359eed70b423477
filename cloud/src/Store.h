// The server's persistent state: accounts, devices, sessions, the Facebook
// stand-in's identities, stored files, the catalogue, every user's library
// with its change positions, and analytics events. In one SQLite file for a
// household server, or in a PostgreSQL database that several servers share.
// One connection guarded by a mutex: every operation is short and atomic.
#pragma once

#include "Database.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cloud {

std::int64_t nowMs();

// Bytes an account's library takes (Store::storedBytes), read on any connection.
std::int64_t storedBytesOf(Database &db, std::int64_t userId);

struct PasswordHash {
    std::string salt;
    std::string hash;
    int iterations = 0;

    static PasswordHash make(std::string_view password, int iterations);
    bool verify(std::string_view password) const;
};

struct User {
    std::int64_t id = 0;
    std::string email;
    std::string firstName;
    std::string lastName;
    PasswordHash password;
    bool hasPassword = false; // accounts made through Facebook have none
    bool desktopRegistered = false;
    std::string gracenoteUser;
};

struct Session {
    std::string id;
    std::int64_t userId = 0;
    std::string deviceId;
    std::int64_t expiresMs = 0;
};

struct FacebookUser {
    std::int64_t id = 0;
    std::string email;
    std::string firstName;
    std::string lastName;
    PasswordHash password;
};

struct Tags {
    std::string title;
    std::string artist;
    std::string album;
    int track = 0;
    std::int64_t durationMs = 0;
    // What players show and need beyond the sync protocol's fields.
    std::string albumArtist;
    std::string genre;
    int disc = 0;
    int year = 0;
    int bitRateKbps = 0;
    std::string suffix;      // "mp3", "flac", "m4a" …: from the container, not the name
    std::string contentType; // "audio/mpeg" …
    bool hasCover = false;   // the file embeds a picture
};

struct StoredFile {
    std::int64_t id = 0;
    std::string relPath; // below the data folder's media/ folder
    std::int64_t size = 0;
    std::string md5;
    std::string sha256; // what sameness is judged by: MD5 collisions are easy to make
};

struct CatalogItem {
    std::int64_t id = 0;
    std::int64_t fileId = 0;
    std::string checksum;
    std::optional<std::string> fingerprintId;
    std::string name;
    Tags tags;
};

struct UserMedia {
    std::int64_t id = 0;
    std::int64_t userId = 0;
    std::int64_t fileId = 0;
    std::string name;
    std::string songName;
    std::string albumName;
    std::string artistName;
    std::string checksum;
    std::optional<std::string> fingerprintId;
    int sequence = 0;
    bool downloadable = true;
    bool deleted = false;
    bool retired = false; // replaced by a newer version: listed to no one
    std::int64_t position = 0;
};

struct Listing {
    std::int64_t position = 0;
    std::vector<UserMedia> items;
};

enum class DeviceResult { Ok, LimitReached };

// A playlist holds at most this many entries, so that reading one stays one
// bounded answer. One made longer by an older version is still read and may
// shrink, but takes no more entries until it is under the cap.
constexpr std::size_t kMaxPlaylistEntries = 10000;

enum class PlaylistChange { Done, NotFound, TooLong };

// Retiring an older version of a song in favour of the newer one.
// AlreadyRetired: it was, in favour of the same item (a resent request).
// UnknownItem, UnknownReplacement: not a listed item of the account.
enum class RetireStatus { Retired, AlreadyRetired, UnknownItem, UnknownReplacement };

struct RetireResult {
    RetireStatus status = RetireStatus::UnknownItem;
    std::int64_t freedBytes = 0; // what the account's quota no longer counts
};

// What the clean-up of expired retired items removed.
struct RetiredRemoval {
    int items = 0;
    std::vector<std::string> files; // paths below media/ that nothing refers to any more
};

// The music-player view of the library (Library.h).
struct Song;
struct Album;
struct Artist;
struct Genre;
struct SongQuery;
struct AlbumQuery;
struct ArtistQuery;
struct Playlist;
struct PlayerPassword;
struct PlayQueue;
struct Bookmark;
struct NowPlaying;

class Store {
public:
    explicit Store(const std::filesystem::path &file);
    // A SQLite file's path or a "postgresql://" address.
    explicit Store(const std::string &location);

    // Accounts
    std::optional<User> findUserByEmail(const std::string &email);
    std::optional<User> findUser(std::int64_t id);
    // nullopt when the e-mail address is taken.
    std::optional<std::int64_t> createUser(const User &user);
    void setDesktopRegistered(std::int64_t userId);
    void setPassword(std::int64_t userId, const PasswordHash &password);
    void setGracenoteUser(std::int64_t userId, const std::string &value);
    // Finds or makes the account that a Facebook identity signs in to.
    User userForFacebook(const FacebookUser &fb);

    DeviceResult registerDevice(std::int64_t userId, const std::string &deviceId, int limit);
    void updateDeviceStatus(std::int64_t userId, const std::string &deviceId,
                            const std::string &status, std::int64_t tracksFound);
    int deviceCount(std::int64_t userId);
    // Frees a device slot and ends that device's sessions; false when there was none.
    bool removeDevice(std::int64_t userId, const std::string &deviceId);

    // A new session ends the earlier sessions of the same account and device.
    std::string createSession(std::int64_t userId, const std::string &deviceId,
                              int lifetimeSeconds);
    std::optional<Session> findSession(const std::string &id);
    void deleteSession(const std::string &id);
    // Ends the account's sessions of devices whose ID starts with
    // `devicePrefix`, all but the `keep` newest.
    void keepNewestSessions(std::int64_t userId, const std::string &devicePrefix, int keep);

    // The Facebook stand-in
    std::optional<std::int64_t> createFacebookUser(const FacebookUser &user);
    std::optional<FacebookUser> findFacebookUserByEmail(const std::string &email);
    std::string createFacebookToken(std::int64_t fbUserId, int lifetimeSeconds);
    std::optional<FacebookUser> findFacebookUserByToken(const std::string &token);

    // Files and catalogue
    // Records a file; when one with the same SHA-256 and size exists, that one is
    // returned and `reused` is set (the caller then drops its copy).
    StoredFile addFile(const StoredFile &file, bool &reused);
    std::optional<StoredFile> findFile(std::int64_t id);
    std::set<std::string> referencedFiles();
    std::int64_t addCatalogItem(const CatalogItem &item);
    std::optional<CatalogItem> findCatalogByChecksum(const std::string &checksum);
    std::optional<CatalogItem> findCatalogByFingerprint(const std::string &fingerprintId);
    std::int64_t catalogSize();

    // Libraries
    std::optional<UserMedia> findUserMediaByChecksum(std::int64_t userId,
                                                     const std::string &checksum);
    std::optional<UserMedia> findUserMedia(std::int64_t mediaId);
    // Adds the item (or returns the one the user already has with that
    // checksum; a retired one of that checksum is listed again, with its own file).
    UserMedia addUserMedia(UserMedia media);
    // An upload in one transaction: the file record (or the existing one with the
    // same SHA-256 and size, setting `fileReused`) and the user's library entry for it.
    // `added` tells whether the library took an entry (a new one, or a retired
    // one listed again, which keeps its own file) rather than one it listed.
    // `tags` are the file's, kept for the music-player view when the file is new.
    UserMedia addUpload(const StoredFile &file, UserMedia media, bool &fileReused,
                        bool *added = nullptr, const Tags *tags = nullptr);
    Listing listChanges(std::int64_t userId, std::int64_t since);
    std::int64_t userMediaCount(std::int64_t userId);
    // Bytes an account's library takes, each item counted whole even when its
    // file is shared (what it would take were it alone).
    std::int64_t storedBytes(std::int64_t userId);
    // Throws DbError when the database does not answer a trivial query.
    void ping();

    // Older versions (StoreRetired.cpp). Retiring takes the item out of the
    // listing and the music-player view and hands its playlist entries and
    // star to the replacement; play counts stay with the old item.
    RetireResult retireUserMedia(std::int64_t userId, std::int64_t mediaId,
                                 std::int64_t replacedBy);
    // Deletes the items retired at or before `cutoffMs`, and the records of
    // their files that nothing else refers to (the caller deletes those files).
    RetiredRemoval removeRetired(std::int64_t cutoffMs);

    // The music-player view (StoreLibrary.cpp). Tags are read once per stored
    // file; each library item gets a row of its own with opaque IDs.
    // Several files' tags in one transaction: a data folder of many files
    // would otherwise pay a commit per file.
    void setFileTags(const std::vector<std::pair<std::int64_t, Tags>> &batch);
    void setFileTags(std::int64_t fileId, const Tags &tags);
    // Files recorded before their tags were kept: (id, path below media/).
    std::vector<std::pair<std::int64_t, std::string>> filesWithoutTags();
    // Makes the rows of library items that have none; returns how many.
    int indexLibrary();
    std::vector<Song> songs(std::int64_t userId, const SongQuery &query);
    std::vector<Album> albums(std::int64_t userId, const AlbumQuery &query);
    std::vector<Artist> artists(std::int64_t userId, const ArtistQuery &query);
    std::vector<Genre> genres(std::int64_t userId);
    std::int64_t libraryChangedMs(std::int64_t userId);
    void setStarred(std::int64_t userId, const std::string &itemId, bool starred);
    void addPlay(std::int64_t userId, std::int64_t mediaId, std::int64_t whenMs);

    // Playlists (StorePlaylists.cpp); IDs are public IDs, always of the given account.
    std::vector<Playlist> playlists(std::int64_t userId);
    std::optional<Playlist> findPlaylist(std::int64_t userId, const std::string &id);
    // nullopt (and nothing made) past kMaxPlaylistEntries.
    std::optional<Playlist> createPlaylist(std::int64_t userId, const std::string &name,
                                           const std::vector<std::int64_t> &mediaIds);
    // Replaces the name, comment or flag given; removes the entries at the given
    // positions (of the list as it was), then appends `add`, or puts
    // `replaceWith` in place of the entries. TooLong, and nothing changed, when
    // entries would be added and the result would pass kMaxPlaylistEntries.
    PlaylistChange updatePlaylist(std::int64_t userId, const std::string &id,
                                  const std::optional<std::string> &name,
                                  const std::optional<std::string> &comment,
                                  const std::optional<bool> &isPublic,
                                  const std::vector<int> &removeAt,
                                  const std::vector<std::int64_t> &add,
                                  const std::optional<std::vector<std::int64_t>> &replaceWith = {});
    bool deletePlaylist(std::int64_t userId, const std::string &id);

    // Listening (StoreListening.cpp): what players keep of a person's listening.
    std::optional<PlayQueue> playQueue(std::int64_t userId);
    // Replaces the account's queue; one without songs removes it.
    void savePlayQueue(std::int64_t userId, const PlayQueue &queue);
    std::vector<Bookmark> bookmarks(std::int64_t userId);
    // Makes or moves the account's bookmark of that item.
    void saveBookmark(std::int64_t userId, const Bookmark &bookmark);
    bool deleteBookmark(std::int64_t userId, std::int64_t mediaId);
    // A song's, album's or artist's rating by its public ID; 0 removes it.
    void setRating(std::int64_t userId, const std::string &itemId, int rating);
    // The song a player of the account began to play, in place of its last.
    void setNowPlaying(std::int64_t userId, const NowPlaying &playing);
    // What the account's players play: songs begun no longer ago than they
    // last, and `graceMs` more.
    std::vector<NowPlaying> nowPlaying(std::int64_t userId, std::int64_t graceMs);

    // Player passwords (StorePlayers.cpp); nullopt when the account has one of that name.
    std::optional<PlayerPassword> addPlayerPassword(const PlayerPassword &password);
    std::vector<PlayerPassword> playerPasswords(std::int64_t userId);
    std::optional<PlayerPassword> findPlayerPasswordByKey(const std::string &keyId);
    bool removePlayerPassword(std::int64_t userId, const std::string &name);
    // A player signed in with it (the later of this and what was kept).
    void setPlayerPasswordUsed(std::int64_t id, std::int64_t whenMs);

    // Analytics
    // Keeps the event; the oldest ones give way beyond 100,000 or `maxTotalBytes`.
    void addAnalyticsEvent(const std::string &contentType, const std::string &fieldsJson,
                           std::uint64_t maxTotalBytes);
    std::vector<std::string> analyticsEvents(); // each a JSON object text

    // The download-signing key older versions kept here; removed as it is read.
    std::optional<std::string> takeLegacySecret();

private:
    void loadIdKey();
    std::int64_t nextPosition();
    StoredFile addFileLocked(const StoredFile &file, bool &reused);
    UserMedia addUserMediaLocked(UserMedia media);
    // The account's item of that checksum, retired or not.
    std::optional<UserMedia> userMediaLocked(std::int64_t userId, const std::string &checksum);
    void indexSongLocked(const UserMedia &media);
    void unindexSongLocked(std::int64_t mediaId);
    void replaceInPlaylistsLocked(std::int64_t userId, std::int64_t mediaId,
                                  std::int64_t replacedBy);
    void reviveLocked(UserMedia &media);
    // A retired item's place in the queue and its bookmark pass to its
    // replacement; what is left of it goes.
    void handOverListeningLocked(std::int64_t userId, std::int64_t mediaId,
                                 std::int64_t replacedBy);
    void forgetListeningLocked(std::int64_t mediaId);
    void setFileTagsLocked(std::int64_t fileId, const Tags &tags);
    std::optional<Artist> songArtistLocked(std::int64_t userId, const std::string &id);
    std::string publicId(const char *kind, std::int64_t userId, std::string_view key) const;
    std::string idKey_; // keys the opaque IDs of the music-player view
    Database db_;
    std::mutex mutex_;
    std::int64_t analyticsBytes_ = -1; // stored analytics bytes, counted on first use
};

} // namespace cloud

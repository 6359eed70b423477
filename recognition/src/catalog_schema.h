#pragma once

namespace recog {

// Tables of a catalogue: its descriptive values. The fingerprints and their
// inverted index live in the index file beside the database (see
// index_format.h), whose generation the meta table names (`index_generation`).
inline constexpr const char *kCatalogSchema = R"SQL(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE contributors(
    id INTEGER PRIMARY KEY, gnuid TEXT NOT NULL UNIQUE, name TEXT NOT NULL,
    name_key TEXT NOT NULL UNIQUE,
    era1 TEXT, era2 TEXT, era3 TEXT,
    origin1 TEXT, origin2 TEXT, origin3 TEXT, origin4 TEXT);
CREATE TABLE albums(
    id INTEGER PRIMARY KEY, gnid TEXT NOT NULL UNIQUE, title TEXT NOT NULL, artist TEXT NOT NULL,
    album_key TEXT NOT NULL UNIQUE, label TEXT, genre1 TEXT, genre2 TEXT, genre3 TEXT,
    contributor_id INTEGER REFERENCES contributors(id));
CREATE TABLE tracks(
    id INTEGER PRIMARY KEY, gnid TEXT NOT NULL UNIQUE, tui TEXT NOT NULL, tui_tag TEXT NOT NULL,
    album_id INTEGER NOT NULL REFERENCES albums(id),
    contributor_id INTEGER REFERENCES contributors(id),
    title TEXT NOT NULL, title_key TEXT NOT NULL, artist TEXT NOT NULL, track_number INTEGER,
    mood1 TEXT, mood2 TEXT, tempo1 TEXT, tempo2 TEXT, tempo3 TEXT,
    genre1 TEXT, genre2 TEXT, genre3 TEXT,
    duration REAL NOT NULL, source TEXT);
CREATE UNIQUE INDEX tracks_tui ON tracks(tui, tui_tag);
CREATE INDEX tracks_title_key ON tracks(title_key);
CREATE TABLE external_ids(
    id INTEGER PRIMARY KEY, owner TEXT NOT NULL CHECK(owner IN ('album', 'track')),
    owner_id INTEGER NOT NULL, type TEXT NOT NULL, source TEXT, value TEXT NOT NULL,
    UNIQUE(owner, owner_id, type, value));
)SQL";

} // namespace recog

#!/bin/sh
# Writes the seed inputs of the fuzz targets into cloud/fuzz/corpus/<target>/.
# The audio seeds are made with ffmpeg (bit-exact, so the same files each
# time) and kept tiny: a fuzzer mutates small inputs much faster.
# Usage: cloud/fuzz/make-seeds.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
corpus="$here/corpus"

seed() { # seed TARGET NAME: standard input becomes the seed
    mkdir -p "$corpus/$1"
    cat >"$corpus/$1/$2"
}

# --- Range header: a byte of size width (64: all of it), eight bytes of file
# size (little-endian), then the header.
range() { # range NAME SIZE HEADER
    {
        printf '\100'
        v=$2
        for _ in 1 2 3 4 5 6 7 8; do
            printf "\\$(printf '%03o' $((v & 255)))"
            v=$((v >> 8))
        done
        printf '%s' "$3"
    } | seed range "$1"
}
range whole 100 'bytes=0-99'
range from 100 'bytes=10-'
range suffix 100 'bytes=-5'
range clamped 100 'bytes=50-500'
range past-end 100 'bytes=100-'
range several 100 'bytes=0-1,4-5'
range spaced 4096 ' Bytes = 5 - 6 '
range empty-file 0 'bytes=0-'
range huge 100 'bytes=99999999999999999999-'

# --- Query strings and form bodies.
printf 'u=ann%%40example.org&t=26719a1196d2a940705a59634eb18eab&s=c19b2d&v=1.16.1&c=player&f=json' |
    seed form query
printf 'query=Rock+%%26+Roll&songCount=2&id=a&id=b&id=c' | seed form repeated
printf 'p=enc%%3A736563726574&x=%%zz&y=%%4&=empty&novalue&&' | seed form odd
printf 'name=%%E2%%99%%AB%%20Mix&comment=%%00%%0D%%0A' | seed form bytes
printf 'first+name=Ann+Lee&last%%20name=Lee&a%%2Bb=c%%2bd' | seed form plus

# --- JSON request bodies.
printf '{"email":"ann@example.org","password":"secret","device":"d1"}' | seed json sign-in
printf '{"milliseconds":1.5e3,"version":null,"list":[true,false,[],{}]}' | seed json numbers
printf '"\\u00e9\\ud83c\\udfb5\\n"' | seed json escapes

# --- Music-player requests (SubsonicFuzzer.cpp describes the form).
s() { seed subsonic "$1"; }
printf 'GET ping token\nf=json\n' | s ping-token
printf 'GET ping.view plain\nv=1.16.1&c=player\n' | s ping-plain-xml
printf 'GET ping hex\nf=jsonp&callback=cb_1\n' | s ping-hex-jsonp
printf 'GET ping key\nf=json\n' | s ping-key
printf 'GET ping web\nf=json\nSec-Fetch-Site: same-origin\n' | s ping-web
printf 'GET ping web\nf=json\nSec-Fetch-Site: cross-site\n' | s ping-web-cross-site
printf 'GET ping none\nu=@U&p=wrong&f=json\n' | s ping-wrong-password
printf 'GET ping none\napiKey=@K&u=@U\n' | s ping-conflicting
printf 'GET ping none\nu=@U&t=0123&s=\n' | s ping-empty-salt
printf 'GET getOpenSubsonicExtensions none\nf=json\n' | s extensions
printf 'GET getLicense token\n\n' | s license
printf 'GET getUser token\nusername=@U&f=json\n' | s user
printf 'GET getMusicFolders token\nf=json\n' | s music-folders
printf 'GET getIndexes token\nf=json&ifModifiedSince=0\n' | s indexes
printf 'GET getArtists token\n\n' | s artists
printf 'GET getArtist token\nid=@R0&f=json\n' | s artist
printf 'GET getAlbum token\nid=@A1\n' | s album
printf 'GET getSong token\nid=@S0&f=json\n' | s song
printf 'GET getGenres token\nf=json\n' | s genres
printf 'GET getMusicDirectory token\nid=@A0\n%%%%\nGET getMusicDirectory token\nid=@R1&f=json\n' |
    s music-directory
printf 'GET getAlbumList2 token\ntype=byYear&fromYear=1990&toYear=2020&f=json\n' | s albums-by-year
printf 'GET getAlbumList2 token\ntype=byGenre&genre=Jazz&size=5&offset=0\n' | s albums-by-genre
printf 'GET getAlbumList2 token\ntype=newest&size=500&offset=1\n' | s albums-newest
printf 'GET getRandomSongs token\nsize=2&genre=Jazz&fromYear=1990&toYear=2000\n' | s random-songs
printf 'GET getSongsByGenre token\ngenre=Rock%%20%%26%%20Roll&count=5&offset=0&f=json\n' |
    s songs-by-genre
printf 'GET search3 token\nquery=Song*&artistCount=1&albumCount=1&songCount=2&songOffset=1\n' |
    s search
printf 'GET search3 token\nquery=%%22%%22&f=json\n' | s search-everything
printf 'POST search3 token\nf=json\nContent-Type: application/x-www-form-urlencoded\n\nquery=First&songCount=1' |
    s search-form-post
printf 'GET star token\nid=@S0&albumId=@A1&artistId=@R2\n%%%%\nGET getStarred2 token\nf=json\n%%%%\nGET unstar token\nid=@S0\n' |
    s star
printf 'GET scrobble token\nid=@S0&time=1700000000000&id=@S1\n%%%%\nGET getAlbumList2 token\ntype=frequent\n' |
    s scrobble
printf 'GET scrobble token\nid=@S2&submission=false\n' | s now-playing
printf 'GET createPlaylist token\nname=Mine&songId=@S0&songId=@S1&f=json\n%%%%\nGET updatePlaylist token\nplaylistId=@L0&name=Ours&comment=c&public=true&songIndexToRemove=0&songIdToAdd=@S2\n%%%%\nGET getPlaylist token\nid=@L0&f=json\n%%%%\nGET deletePlaylist token\nid=@L0\n' |
    s playlist
printf 'GET createPlaylist token\nname=A&songId=@S0\n%%%%\nGET createPlaylist token\nplaylistId=@L0&songId=@S2&songId=@S2\n%%%%\nGET getPlaylists token\nusername=@U\n' |
    s playlist-replace
printf 'GET stream token\nid=@S0\nRange: bytes=10-99\n' | s stream-range
printf 'GET stream token\nid=@S2\nRange: bytes=-100\n' | s stream-suffix
printf 'HEAD download token\nid=@S1\nRange: bytes=100000000-\n' | s download-past-end
printf 'GET download key\nid=@S0\n' | s download
printf 'GET stream token\nid=@S1&maxBitRate=64\n' | s stream-mp3
printf 'GET stream token\nid=@S0&format=opus&timeOffset=1\n' | s stream-opus
printf 'GET stream token\nid=@S2&format=raw&maxBitRate=32\n' | s stream-raw
printf 'GET getCoverArt token\nid=@S0&size=32\n' | s cover-scaled
printf 'GET getCoverArt token\nid=@A0\n%%%%\nGET getCoverArt token\nid=@R0&size=2048\n' | s cover
printf 'GET getCoverArt token\nid=@S1\n' | s cover-none

# --- Stored files. The playlists name the canary the fuzzer puts beside
# the input (@CANARY@ becomes its absolute path).
t() { seed stored_file "$1"; }
printf '#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:1.0,\ncanary.wav\n#EXT-X-ENDLIST\n' |
    t playlist-relative.m3u8
printf '#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1.0,\nfile:@CANARY@\n#EXT-X-ENDLIST\n' |
    t playlist-absolute.m3u8
printf 'ffconcat version 1.0\nfile canary.wav\n' | t concat-relative.txt
printf 'ffconcat version 1.0\nfile @CANARY@\n' | t concat-absolute.txt
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ff="ffmpeg -nostdin -hide_banner -loglevel error -y"
exact="-fflags +bitexact -flags:a +bitexact -flags:v +bitexact -map_metadata -1"
$ff -f lavfi -i testsrc=size=24x16:rate=1 -frames:v 1 $exact "$tmp/cover.png"
$ff -f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.3 -i "$tmp/cover.png" \
    -map 0 -map 1 -ac 1 -c:a libmp3lame -b:a 8k -c:v copy -disposition:v attached_pic \
    -id3v2_version 3 -metadata title=Cover -metadata artist=Ann $exact "$tmp/cover.mp3"
# sox, not ffmpeg: ffmpeg's FLAC writer pads the header by 8 KiB.
sox -D -n -r 8000 -b 16 -c 1 --comment TITLE=Flac "$tmp/song.flac" synth 0.2 sine 660
$ff -f lavfi -i sine=frequency=880:sample_rate=8000:duration=0.05 -ac 1 -c:a pcm_u8 $exact \
    "$tmp/song.wav"
$ff -f lavfi -i sine=frequency=550:sample_rate=48000:duration=0.1 -ac 1 -c:a libopus -b:a 6k \
    $exact "$tmp/song.opus"
for f in cover.mp3 song.flac song.wav song.opus; do
    t "$f" <"$tmp/$f"
done
echo "seeds written to $corpus"

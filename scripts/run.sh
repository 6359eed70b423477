#!/usr/bin/env bash
# Sets everything up and runs Sonarbox against a local reference server, in a
# demo world that shows what a sync does:
#   1. installs the Debian packages the project needs (scripts/setup.sh);
#   2. builds the programs in build/ (SONARBOX_BUILD=DIR: another tree), -j2;
#   3. prepares the demo world once, in build/sonarbox-demo
#      (SONARBOX_DEMO_DATA): generated songs; a recognition catalogue and the
#      server's catalogue made from some of them; a demo music folder holding
#      catalogued songs re-encoded and tagged differently (only their
#      fingerprints can match them) and songs the catalogue lacks; and the
#      demo account demo@sonarbox.local / sonarbox-demo, which already holds
#      a song that only the cloud has;
#   4. starts sonarbox-cloud on 127.0.0.1:8480 (SONARBOX_CLOUD_PORT) with its
#      data in the demo folder (SONARBOX_CLOUD_DATA); it answers the client's
#      recognition lookups from the demo's recognition catalogue, as the
#      client's default set-up expects (sonarbox-demo.ini shows the other way:
#      the engine reading that catalogue on the client's computer, catalog=);
#   5. signs the demo account in and, when a display is available (DISPLAY or
#      WAYLAND_DISPLAY) and no arguments are given, starts the desktop program
#      `sonarbox`: its window opens on the library picker, where you choose the
#      demo music folder; otherwise runs the sync engine without a desktop
#      (sonarbox-headless), which chooses the demo music folder
#      (SONARBOX_MUSIC=DIR: your own folder instead) and the demo download
#      folder, and syncs now and every hour.
# Everything after the build runs with a home folder of its own inside the demo
# folder (HOME and the XDG folders, no session bus), so the demo leaves your
# own settings, keyring and login items untouched; removing the demo folder
# removes every trace of it. Ctrl-C stops both. Arguments go to the client: --once runs one sync and
# exits; --status prints the account and its tracks and exits.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${SONARBOX_BUILD:-build}
echo "run: checking Debian packages"
scripts/setup.sh
echo "run: building the programs in $build/"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target sonarbox-cloud sonarbox-headless sonarbox sonarbox-make-songs \
  tonemill-catalog >/dev/null

server=$build/cloud/sonarbox-cloud
client=$build/client/headless/sonarbox-headless
desktop=$build/client/shell/app/sonarbox
make_songs=$build/bench/sync/corpus/sonarbox-make-songs
catalog_tool=$build/recognition/tonemill-catalog
for program in "$server" "$client" "$make_songs" "$catalog_tool"; do
  if [ ! -x "$program" ]; then
    echo "run: $program was not built (is a component switched off in $build/?)" >&2
    exit 1
  fi
done

demo="$(realpath -m "${SONARBOX_DEMO_DATA:-$build/sonarbox-demo}")"
cloud_data="${SONARBOX_CLOUD_DATA:-$demo/cloud}"
port="${SONARBOX_CLOUD_PORT:-8480}"
base="http://127.0.0.1:$port"
email=demo@sonarbox.local
password=sonarbox-demo
music="${SONARBOX_MUSIC:-$demo/music}"
downloads="$demo/downloads"
cloud_song="$demo/songs/cloud-only/The Demo Band - Far Away.mp3"

# The demo's own home: the programs below find their settings, store, secrets
# and autostart folder there, whoever runs the script.
mkdir -p "$demo/home"
# The display's credentials stay where the person's session keeps them.
if [ -z "${XAUTHORITY:-}" ] && [ -f "$HOME/.Xauthority" ]; then
  export XAUTHORITY="$HOME/.Xauthority"
fi
export HOME="$demo/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
export XDG_STATE_HOME="$HOME/.local/state" XDG_RUNTIME_DIR="$HOME/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS SONARBOX_CONFIG

songs() { "$make_songs" --seconds 40 "$@" >/dev/null; }

prepare_demo_world() {
  echo "run: preparing the demo world in $demo (once)"
  rm -rf "$demo/songs" "$demo/music" "$demo/recognition"
  mkdir -p "$demo/recognition" "$downloads" "$cloud_data"
  # The label's releases: six songs in FLAC. They make the recognition
  # catalogue and the service's catalogue.
  songs --out "$demo/songs/catalogue" --count 6 --first-seed 101 --formats flac \
    --title "Northern Lights {track}" --artist "The Demo Band" --album "First Light" \
    --album-size 6 --name "{track} {title}.{ext}"
  # The person's music: four of those songs as they ripped them (MP3 at
  # 96 kbit/s, other names and tags: different bytes, same recording) ...
  songs --out "$demo/music" --count 4 --first-seed 101 --formats mp3 --bitrate 96k \
    --title "Track {track}" --artist "Unknown Artist" --album "" --album-size 0
  # ... and three home recordings that no catalogue holds.
  songs --out "$demo/music" --count 3 --first-seed 201 --formats m4a,ogg,mp3 \
    --title "Kitchen Session {track}" --artist "You" --album "Home Recordings" --album-size 3
  # A song of the account that only the cloud has.
  songs --out "$demo/songs/cloud-only" --count 1 --first-seed 301 --formats mp3 \
    --title "Far Away" --artist "The Demo Band" --album "Elsewhere" --album-size 1

  "$catalog_tool" create "$demo/recognition/catalog.db" >/dev/null
  "$catalog_tool" add "$demo/recognition/catalog.db" "$demo/songs/catalogue"/*.flac >/dev/null
  printf 'catalog=%s\n' "$demo/recognition/catalog.db" >"$demo/recognition/engine.conf"

  if [ ! -e "$cloud_data/.demo-user" ]; then
    "$server" add-user --data "$cloud_data" "$email" "$password" --first Demo --last User >/dev/null
    touch "$cloud_data/.demo-user"
  fi
  "$server" import --data "$cloud_data" --recognition-catalog "$demo/recognition/catalog.db" \
    "$demo/songs/catalogue"/*.flac >/dev/null
  rm -f "$cloud_data/.cloud-song"
  touch "$demo/.prepared"
}

# The client's deployment configuration: this server, whose lookup service
# the recognition engine asks (nothing of your own Sonarbox set-up is touched).
write_client_config() {
  cat >"$demo/sonarbox-demo.ini" <<EOF
; Written by scripts/run.sh for the demo; values not given here are the
; built-in defaults (client/resources/sonarbox.ini).
[service]
gatewayBaseUrl=$base
webSiteUrl=$base
reachabilityHost=127.0.0.1
reachabilityPort=$port

[recognition]
; The engine asks $base/recognition/v1/lookup. To read the
; demo's catalogue on this computer instead, without the server's lookup:
;initData=$demo/recognition/engine.conf

[facebook]
webHost=127.0.0.1:$port
graphHost=127.0.0.1:$port
restHost=127.0.0.1:$port

[analytics]
collectorUrl=$base/collect
EOF
}

# Uploads the cloud-only song into the demo account as another computer of
# the same person would (see cloud/README.md): a signature token, a desktop
# sign-in signed with the upper-case hex MD5 of user name, password, device
# ID and token, then the multipart upload with the session cookie.
upload_cloud_only_song() {
  local device=sonarbox-demo-other-computer token signature jar name reply
  token=$(curl -sf -H 'Content-Type: application/json' --data-binary '{"getToken":{}}' \
    "$base/Vexmusic/userJson" | tr -d '"')
  signature=$(printf '%s' "$email$password$device$token" | md5sum | cut -d' ' -f1 | tr 'a-f' 'A-F')
  jar=$(mktemp)
  chmod 600 "$jar"
  printf '{"loginDesktop":{"username":"%s","password":"%s","deviceId":"%s","signature":"%s"}}' \
    "$email" "$password" "$device" "$signature" |
    curl -sf -c "$jar" -H 'Content-Type: application/json' --data-binary @- \
      "$base/Vexmusic/userJson" | grep -q '"SUCCESS"' || {
    rm -f "$jar"
    echo "run: the demo account could not sign in to upload its cloud-only song" >&2
    return 1
  }
  name=$(basename "$cloud_song")
  reply=$(curl -sf -b "$jar" -F "file=@$cloud_song" \
    "$base/Vexmusic/controllers/DesktopUploadMedia?fileName=${name// /%20}" || true)
  rm -f "$jar"
  if ! grep -q '"SUCCESS"' <<<"$reply"; then
    echo "run: the cloud-only song could not be uploaded" >&2
    return 1
  fi
  touch "$cloud_data/.cloud-song"
}

[ -e "$demo/.prepared" ] || prepare_demo_world
mkdir -p "$downloads"
write_client_config

echo "run: starting sonarbox-cloud on $base (data in $cloud_data, requests in $demo/cloud.log)"
# The engine credentials the lookup accepts: those of the client's default
# deployment configuration.
defaults=client/resources/sonarbox.ini
recognition_client="$(sed -n 's/^clientId=//p' "$defaults"):$(sed -n 's/^clientTag=//p' "$defaults")"
"$server" serve --data "$cloud_data" --listen "127.0.0.1:$port" \
  --recognition-catalog "$demo/recognition/catalog.db" --recognition-clients "$recognition_client" \
  >>"$demo/cloud.log" 2>&1 &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  curl -s -o /dev/null "$base/" && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "run: sonarbox-cloud did not start (is port $port taken? set SONARBOX_CLOUD_PORT)" >&2
    exit 1
  fi
  sleep 0.1
done

[ -e "$cloud_data/.cloud-song" ] || upload_cloud_only_song

sonarbox=("$client" --config "$demo/sonarbox-demo.ini")
if "${sonarbox[@]}" --status | grep -q '^Account: not signed in'; then
  echo "run: signing in as $email"
  printf '%s\n' "$password" | "${sonarbox[@]}" --login "$email"
fi

if [ "$music" = "$demo/music" ] && [[ " $* " != *" --status "* ]]; then
  cat <<EOF
run: the demo. $music holds seven songs: four are songs of the service's
     catalogue, re-encoded and tagged differently, so only their acoustic
     fingerprints can match them: they join the cloud library without an
     upload; three are home recordings the catalogue lacks: they are uploaded.
     The account also holds "Far Away", which only the cloud has: it is
     downloaded into $downloads.
     (SONARBOX_MUSIC=DIR scripts/run.sh syncs your own folder instead.)
EOF
fi
if [ $# -eq 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$desktop" ]; then
  cat <<EOF
run: starting the desktop program ($desktop). Its window opens on the library
     picker: choose "Other folders", add $music
     and press Continue; the scan summary then counts its songs and Next syncs.
     Sonarbox stays in the system tray when the window is closed; "Quit Sonarbox"
     in its menu ends it (and this demo).
EOF
  "$desktop" --config "$demo/sonarbox-demo.ini"
  exit $?
fi
echo "run: starting the Sonarbox sync engine ($client); its log: $XDG_STATE_HOME/Sonarbox/sonarbox.log"
"${sonarbox[@]}" --library "$music" --download-dir "$downloads" "$@"

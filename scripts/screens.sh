#!/usr/bin/env bash
# Renders every screen of the desktop program (the progress page also with the
# last sync's summary, and the Tracks window), its tray menu in the states
# Synced, Downloading 40 %, Offline and logged out, the tray icon of each state
# on a dark and a light panel, and the Facebook sign-in window (a local
# sonarbox-cloud stands in for the site), into PNG files in OUTDIR:
#   scripts/screens.sh OUTDIR
# The real program draws them (sonarbox --render-screens) on the offscreen
# platform, with a home folder of its own, so nothing of yours is read or
# changed. The scan summary scans two folders of short generated songs.
# Needs a build in build/ (SONARBOX_BUILD=DIR for another) and ffmpeg.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$(realpath -m "$1")
cd "$(dirname "$0")/.."
build=${SONARBOX_BUILD:-build}
program="$build/client/shell/app/sonarbox"
if [ ! -x "$program" ]; then
  echo "screens: $program was not built (cmake --build $build --target sonarbox)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/Rock" "$work/Jazz" "$out"

# Two folders with a few songs each (sine tones with tags).
song() {
  ffmpeg -loglevel error -f lavfi -i "sine=frequency=$3:duration=8" -ac 2 -b:a 128k \
    -metadata title="$2" -metadata artist="Sonarbox" -metadata album="$(basename "$1")" \
    "$1/$2.mp3"
}
for n in 1 2 3; do song "$work/Rock" "Rock $n" $((300 + 40 * n)); done
for n in 1 2; do song "$work/Jazz" "Jazz $n" $((500 + 40 * n)); done

# A local sonarbox-cloud stands in for the Facebook site, so that the
# sign-in window shows its login page.
cloud="$build/cloud/sonarbox-cloud"
config=()
if [ -x "$cloud" ]; then
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkdir -p "$work/cloud"
  "$cloud" serve --data "$work/cloud" --listen "127.0.0.1:$port" >"$work/cloud.log" 2>&1 &
  cloud_pid=$!
  trap 'kill "$cloud_pid" 2>/dev/null; wait "$cloud_pid" 2>/dev/null; rm -rf "$work"' EXIT
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  cat >"$work/sonarbox.ini" <<EOF
[service]
gatewayBaseUrl=http://127.0.0.1:$port
webSiteUrl=http://127.0.0.1:$port
[facebook]
appId=100000000000001
webHost=127.0.0.1:$port
graphHost=127.0.0.1:$port
restHost=127.0.0.1:$port
EOF
  config=(--config "$work/sonarbox.ini")
else
  echo "screens: $cloud was not built; no picture of the Facebook window" >&2
fi

env -i PATH="$PATH" HOME="$work/home" \
  XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/home/run" \
  QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
  "$program" "${config[@]}" --render-screens "$out" "$work/Rock" "$work/Jazz"

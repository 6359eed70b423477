#!/usr/bin/env bash
# Renders every screen of the desktop program (the progress page while a sync
# runs, a new account's with Continue, once the sync has ended, with the last
# sync's summary and, after a sync with nothing to do, beside the last change;
# the settings with the Music folder and with chosen folders; the Tracks
# window), its tray menu in the states Synced, Downloading 40 %, Offline and
# logged out, the tray icon of each state on a dark and a light panel, the
# "Sign-in needed" notification as a notification service draws it, and the
# Facebook sign-in window (a local sonarbox-cloud stands in for the site), into
# PNG files in OUTDIR:
#   scripts/screens.sh OUTDIR
# The real program draws them (sonarbox --render-screens) on the offscreen
# platform, with a home folder of its own, so nothing of yours is read or
# changed. The scan summary scans two folders of short generated songs.
# Needs a build in build/ (SONARBOX_BUILD=DIR for another) and ffmpeg; the
# notification also Xvfb, dbus-daemon, dunst and ImageMagick (scripts/setup.sh).
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

render() {
  env -i PATH="$PATH" HOME="$work/home" \
    XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
    XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/home/run" \
    QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 "$@" \
    "$program" "${config[@]}" --render-screens "$out" "$work/Rock" "$work/Jazz"
}

# The notification is the desktop's notification service's to draw. With an
# X server, a session bus and a notification service from Debian at hand, the
# program renders its screens inside such a session and then sends its
# "Sign-in needed" notification, whose picture is taken from the X screen.
if ! command -v Xvfb >/dev/null || ! command -v dbus-daemon >/dev/null ||
  ! command -v dunst >/dev/null || ! command -v import >/dev/null; then
  echo "screens: no Xvfb, dbus-daemon, dunst or import; no picture of the notification" >&2
  render
  exit 0
fi
mkdir -p "$work/home/run"
chmod 700 "$work/home/run"
pids=()
trap 'kill "${pids[@]}" "${cloud_pid:-}" 2>/dev/null; rm -rf "$work"' EXIT
# The X server takes the first display nobody holds and says which.
Xvfb -displayfd 3 -screen 0 460x130x24 -nolisten tcp -noreset 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/bus" ] && [ -s "$work/display" ] && break
  sleep 0.1
done
display=":$(head -n1 "$work/display")"
address=$(head -n1 "$work/bus")
cat >"$work/dunstrc" <<EOF
[global]
    font = DejaVu Sans 11
    width = 440
    origin = top-right
    offset = 10x10
    padding = 12
    horizontal_padding = 12
    frame_width = 1
    frame_color = "#6d7bd8"
    icon_position = left
    min_icon_size = 48
    max_icon_size = 48
    icon_path = $(realpath "$build/share/icons/hicolor/48x48/apps")
[urgency_normal]
    background = "#26272b"
    foreground = "#f2f2f2"
    timeout = 0
EOF
DISPLAY="$display" DBUS_SESSION_BUS_ADDRESS="$address" dunst -config "$work/dunstrc" \
  >"$work/dunst.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  if DBUS_SESSION_BUS_ADDRESS="$address" dbus-send --session --print-reply \
    --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
    string:org.freedesktop.Notifications 2>/dev/null | grep -q "boolean true"; then
    break
  fi
  sleep 0.1
done
render DBUS_SESSION_BUS_ADDRESS="$address" | tee "$work/render.log"
if grep -qx notified "$work/render.log"; then
  sleep 1 # the service draws it
  import -display "$display" -window root -trim +repage "$out/notification.png"
  echo "wrote $out/notification.png"
else
  echo "screens: the notification service did not show the notification:" >&2
  cat "$work/dunst.log" >&2
  exit 1
fi

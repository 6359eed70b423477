#!/usr/bin/env bash
# Installs every Debian package Sonarbox, libtonemill, the recognition engine and
# sonarbox-cloud need to build, run and test. Safe to run again: it only calls
# apt-get when something is missing, and says nothing when all is there.
set -euo pipefail

packages=(
  # build
  g++ cmake pkgconf make git
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-websockets-dev
  qt6-webengine-dev qt6-tools-dev qt6-l10n-tools qtkeychain-qt6-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev
  libchromaprint-dev libmpdclient-dev libtag1-dev libcpp-httplib-dev libssl-dev libsqlite3-dev
  zlib1g-dev libpq-dev
  libmicrohttpd-dev nlohmann-json3-dev libcurl4-openssl-dev libxml2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  # run and test
  mpd libchromaprint-tools ffmpeg sox xvfb xauth dbus-daemon dbus-x11 gnome-keyring
  libsecret-tools sqlite3 curl time procps openssl nodejs
  # the scaled back end of sonarbox-cloud: PostgreSQL, and an S3-compatible
  # object store for its tests (one node, s3api)
  postgresql-15
  swift swift-proxy swift-object swift-account swift-container
  # the balancer the scaled benchmarks put in front of several servers
  haproxy
  # the desktop tests (a window manager and a panel with a tray, a
  # notification service), the web player's browser tests, the PNG icons
  # drawn from their SVG, and the Debian package and its checks
  openbox tint2 xdotool x11-utils imagemagick chromium desktop-file-utils appstream
  dpkg-dev lintian file librsvg2-bin dunst
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "setup: installing ${#missing[@]} Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  echo "setup: done"
fi

# npm packages of tests, pinned by the lock file beside each package.json.
# npm is Debian's own package where nodejs comes from Debian (other builds of
# nodejs bring it along).
if ! command -v npm >/dev/null; then
  [ "$(id -u)" -eq 0 ] && sudo="" || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
for dir in cloud/tests/player-client cloud/tests/web-player; do
  here="$(dirname "$0")/../$dir"
  if [ ! -d "$here/node_modules" ] || [ "$here/package-lock.json" -nt "$here/node_modules" ]; then
    echo "setup: installing the npm packages of $dir"
    (cd "$here" && npm ci --no-audit --no-fund --loglevel=error >/dev/null && touch node_modules)
  fi
done

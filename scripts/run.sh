#!/usr/bin/env bash
# Sets everything up and runs Sonarbox against a local reference server.
#   1. installs the Debian packages the project needs (scripts/setup.sh);
#   2. builds the project in build/ (-j2);
#   3. starts sonarbox-cloud on 127.0.0.1:8480 with its data in
#      ~/.local/share/sonarbox-cloud (a demo account demo@sonarbox.local /
#      sonarbox-demo is created the first time);
#   4. runs the Sonarbox sync engine against it (Ctrl-C stops both).
# Arguments go to the client (for example --once, or --config FILE).
set -euo pipefail
cd "$(dirname "$0")/.."

echo "run: checking Debian packages"
scripts/setup.sh
echo "run: building in build/"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 >/dev/null

data="${SONARBOX_CLOUD_DATA:-$HOME/.local/share/sonarbox-cloud}"
port="${SONARBOX_CLOUD_PORT:-8480}"
server=build/cloud/sonarbox-cloud
if [ -x "$server" ]; then
  mkdir -p "$data"
  if [ ! -e "$data/.demo-user" ]; then
    "$server" add-user --data "$data" demo@sonarbox.local sonarbox-demo --first Demo --last User \
      && touch "$data/.demo-user"
  fi
  echo "run: starting sonarbox-cloud on 127.0.0.1:$port (data in $data)"
  "$server" serve --data "$data" --listen "127.0.0.1:$port" &
  server_pid=$!
  trap 'kill "$server_pid" 2>/dev/null || true' EXIT
  sleep 1
else
  echo "run: sonarbox-cloud is not built yet; the client runs without a server"
fi

client=build/client/headless/sonarbox-headless
echo "run: starting the Sonarbox sync engine ($client)"
"$client" "$@"

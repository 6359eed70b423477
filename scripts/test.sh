#!/usr/bin/env bash
# Installs what the project needs, builds it and runs every test.
#   scripts/test.sh                      the normal build in build/
#   SANITIZE=address,undefined scripts/test.sh   the same under ASan+UBSan (build-address-undefined/)
#   SANITIZE=thread scripts/test.sh      under ThreadSanitizer (build-thread/)
# Extra arguments go to ctest (for example: -L unit).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

build=build
if [ -n "${SANITIZE:-}" ]; then
  build="build-$(echo "$SANITIZE" | tr -c 'a-z\n' '-' | sed 's/-*$//')"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONARBOX_SANITIZE="${SANITIZE:-}" >/dev/null
cmake --build "$build" -j2
if [ "${SANITIZE:-}" = thread ]; then
  export TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp ${TSAN_OPTIONS:-}"
fi
cd "$build"
ctest -j2 --output-on-failure "$@"

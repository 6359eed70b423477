#!/usr/bin/env bash
# Installs what the project needs, builds it and runs the tests.
#   scripts/test.sh                      every test, in the normal build in build/
#   SANITIZE=address,undefined scripts/test.sh   under ASan+UBSan (build-address-undefined/)
#   SANITIZE=thread scripts/test.sh      under ThreadSanitizer (build-thread/)
# The sanitizer builds run all but the end-to-end, package, browser and
# desktop tests, which the normal build runs (see below).
# Extra arguments go to ctest (for example: -L unit).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

build=build
benchmarks=ON
system_tests=ON
shell=ON
if [ -n "${SANITIZE:-}" ]; then
  build="build-$(echo "$SANITIZE" | tr -c 'a-z\n' '-' | sed 's/-*$//')"
  # Benchmarks are never run as tests, and their figures mean nothing under a
  # sanitizer; the suites the sanitizer trees leave to the normal run (below)
  # need not be built there either.
  benchmarks=OFF
  system_tests=OFF
fi
# ThreadSanitizer runs the unit and integration tests only (see .ci/run), so
# its tree leaves out the desktop program, whose tests are labelled gui.
if [ "${SANITIZE:-}" = thread ]; then
  shell=OFF
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONARBOX_SANITIZE="${SANITIZE:-}" \
  -DSONARBOX_WITH_BENCH="$benchmarks" -DSONARBOX_WITH_SYSTEM_TESTS="$system_tests" \
  -DSONARBOX_WITH_SHELL="$shell" >/dev/null
cmake --build "$build" -j2
if [ "${SANITIZE:-}" = thread ]; then
  export TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp ${TSAN_OPTIONS:-}"
fi
case "${SANITIZE:-}" in
  *address*)
    # The embedded browser's engine (the system's QtWebEngine, not built with
    # the sanitizer) frees some of its own objects through a base type of
    # another size, which AddressSanitizer reports as a new/delete size
    # mismatch from inside that library. Every other check stays on.
    export ASAN_OPTIONS="new_delete_type_mismatch=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
    export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    ;;
esac
# The package and the browser tests check files and pages, not this build's
# memory use, and the desktop tests a real X server, whose platform plug-in
# loads and unloads drivers that the leak checker then cannot name. The
# end-to-end tests run whole syncs through the same code that the unit and
# integration tests run piece by piece, and take longest of all, several
# times longer under a sanitizer. The cloud tests on the scaled back end
# (PostgreSQL and an object store) repeat the cloud tests on other engines.
# The sanitizer trees leave all five to the normal run (the offscreen GUI
# tests stay).
skip=()
if [ -n "${SANITIZE:-}" ]; then
  skip=(-LE '^(package|browser|desktop|e2e|scaled)$')
fi
cd "$build"
ctest -j2 --output-on-failure "${skip[@]}" "$@"

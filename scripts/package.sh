#!/usr/bin/env bash
# Builds the Debian package of Sonarbox: build/sonarbox_<version>_<arch>.deb.
#   scripts/package.sh
#   SONARBOX_BUILD=DIR scripts/package.sh    from another build tree (the .deb goes there)
# It uses the build tree's compiled objects (configuring the tree first if
# it is new), builds only what the package holds, installs that under /usr
# into a staging folder (stripped), and lets dpkg-shlibdeps name the Debian
# packages the programs need. Install it with
#   sudo apt-get install ./build/sonarbox_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${SONARBOX_BUILD:-build}")

if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "package: configuring $build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
case "$(grep -E '^SONARBOX_SANITIZE:' "$build/CMakeCache.txt" | cut -d= -f2)" in
  "") ;;
  *) echo "package: $build is a sanitizer build; package a normal one" >&2; exit 1 ;;
esac
echo "package: building the programs in $build"
cmake --build "$build" -j2 --target sonarbox_installables >/dev/null

work="$build/package-work"
rm -rf "$work"
echo "package: making the Debian package"
if ! cpack --config "$build/CPackConfig.cmake" -B "$work" >"$build/package.log" 2>&1; then
  cat "$build/package.log" >&2
  exit 1
fi
debs=("$work"/sonarbox_*.deb)
rm -f "$build"/sonarbox_*.deb
mv "${debs[@]}" "$build/"
rm -rf "$work"
for deb in "${debs[@]}"; do
  echo "package: $build/$(basename "$deb")"
done

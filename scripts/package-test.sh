#!/usr/bin/env bash
# Builds the packages (scripts/package.sh) and tests them as their users get them
# (tests/install/packages_test.sh): lintian, the unpacked .deb, a DESTDIR install of
# the Release build whose Setup.exe runs under Wine for every architecture this host
# runs, the Windows zip. Ends with "oempack packages: N passed, N failed".
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
JOBS="${JOBS:-$(nproc)}"

mkdir -p build
bash scripts/package.sh | tee build/package.log
DEB="$(sed -n 's/^package: \(.*\.deb\)$/\1/p' build/package.log)"
ZIP="$(sed -n 's/^package: \(.*\.zip\)$/\1/p' build/package.log)"

source scripts/wine-arches.sh
wine_arches_decide || exit 1
[ -n "$OEM_ARCHES_RUN" ] || echo "package-test: $(wine_arches_none_sentence); no Setup.exe is launched"
for arch in $OEM_ARCHES_RUN; do
  cmake --build "build/win-$arch" -j"$JOBS" --target SampleInstaller
done
# shellcheck disable=SC2086
bash tests/install/packages_test.sh "$ROOT" "$DEB" "$ZIP" "$ROOT/build/release" "$ROOT/build/package-test" \
  $OEM_ARCHES_RUN

#!/usr/bin/env bash
# Builds and packs oempack as an installed tool: the Debian package
# build/packages/oempack_<version>_<arch>.deb and the Windows zip
# build/packages/oempack-<version>-windows.zip, each with the layout of `cmake --install`.
# Made from Release builds only: the native oempack from build/release (no sanitizers;
# the demo and the benchmarks share it), the launchers and oempack.exe from
# build/win-x86 and build/win-x64. Prints the two files' paths at the end.
# JOBS: parallel jobs (default nproc). OEM_PACKAGE_DIR: where the packages go.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
JOBS="${JOBS:-$(nproc)}"
OUT="${OEM_PACKAGE_DIR:-$ROOT/build/packages}"
RELEASE="$ROOT/build/release"

bash scripts/bootstrap.sh

# The Windows programs the packages carry, each in its architecture's build folder,
# configured exactly as scripts/win-build.sh configures it (the tests and the demo
# share those folders), but building only these programs. The x86 build installs the
# x64 launcher beside its own in the zip.
for arch in x64 x86; do
  case "$arch" in
    x86) toolchain=mingw-i686 ;;
    x64) toolchain=mingw-x86_64 ;;
  esac
  build="$ROOT/build/win-$arch"
  mkdir -p "$(dirname "$build")"
  echo "== Windows launcher and oempack.exe ($arch) in $build"
  if ! cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
       -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain.cmake" \
       -DOEM_WINDOWS_BUILD_X64="$ROOT/build/win-x64" >"$build.configure.log" 2>&1; then
    cat "$build.configure.log"
    exit 1
  fi
  cmake --build "$build" -j"$JOBS" --target Setup oempack
done

echo "== native oempack (Release) in $RELEASE"
if ! cmake -S "$ROOT" -B "$RELEASE" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOEM_SANITIZE=OFF \
     -DOEM_WINDOWS_BUILD_X86="$ROOT/build/win-x86" -DOEM_WINDOWS_BUILD_X64="$ROOT/build/win-x64" \
     >"$RELEASE.configure.log" 2>&1; then
  cat "$RELEASE.configure.log"
  exit 1
fi
cmake --build "$RELEASE" -j"$JOBS" --target oempack

mkdir -p "$OUT"
STAGE="$OUT/stage"
rm -rf "$STAGE"
umask 022

# --- the Debian package ---
# The upstream version is oempack's own; the Debian revision comes from the changelog,
# whose first entry must be of that upstream version.
VERSION="$("$RELEASE/tools/oempack/oempack" --version | awk '{ print $2; exit }')"
DEB_VERSION="$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)"
if [ "${DEB_VERSION%-*}" != "$VERSION" ]; then
  echo "package: packaging/debian/changelog starts with $DEB_VERSION, but oempack is $VERSION: add an entry" >&2
  exit 1
fi
DEB_ARCH="$(dpkg --print-architecture)"
# File times in the package: the last commit's, so that the same commit packs the same way.
SOURCE_DATE_EPOCH="$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || date -d "$(dpkg-parsechangelog -l packaging/debian/changelog -S Date)" +%s)"
export SOURCE_DATE_EPOCH

ROOTFS="$STAGE/deb"
DESTDIR="$ROOTFS" cmake --install "$RELEASE" --prefix /usr --strip >/dev/null
# What Debian's own packaging strips beyond the symbols: the compilers' notes.
strip --remove-section=.comment --remove-section=.note "$ROOTFS/usr/bin/oempack"
DOC="$ROOTFS/usr/share/doc/oempack"
# Debian's places: the licence as the copyright file, compressed manual page, README
# and changelog.
rm "$DOC/LICENSE"
cp packaging/debian/copyright "$DOC/copyright"
gzip -9n "$DOC/README.md" "$ROOTFS/usr/share/man/man1/oempack.1"
gzip -9n <packaging/debian/changelog >"$DOC/changelog.Debian.gz"
if [ -s packaging/debian/lintian-overrides ]; then
  mkdir -p "$ROOTFS/usr/share/lintian/overrides"
  cp packaging/debian/lintian-overrides "$ROOTFS/usr/share/lintian/overrides/oempack"
fi
find "$ROOTFS" -type d -exec chmod 0755 {} +
find "$ROOTFS" -type f -exec chmod 0644 {} +
chmod 0755 "$ROOTFS/usr/bin/oempack"

# The libraries' packages the program needs, as dpkg-shlibdeps computes them (it
# wants to be run where a debian/control names the package).
mkdir -p "$STAGE/shlibdeps/debian"
printf 'Source: oempack\n\nPackage: oempack\nArchitecture: any\n' >"$STAGE/shlibdeps/debian/control"
DEPENDS="$(cd "$STAGE/shlibdeps" && dpkg-shlibdeps -O "$ROOTFS/usr/bin/oempack" | sed -n 's/^shlibs:Depends=//p')"
SIZE="$(du -k -s --apparent-size "$ROOTFS" | cut -f1)"
mkdir -p "$ROOTFS/DEBIAN"
sed -e "s/@VERSION@/$DEB_VERSION/" -e "s/@ARCH@/$DEB_ARCH/" -e "s/@SIZE@/$SIZE/" -e "s/@DEPENDS@/$DEPENDS/" \
  packaging/debian/control.in >"$ROOTFS/DEBIAN/control"
(cd "$ROOTFS" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
DEB="$OUT/oempack_${DEB_VERSION}_${DEB_ARCH}.deb"
rm -f "$OUT"/oempack_*.deb
dpkg-deb --root-owner-group -Zxz --build "$ROOTFS" "$DEB" >/dev/null

# --- the Windows zip: the x86 oempack.exe runs on every Windows ---
ZIPROOT="$STAGE/zip/oempack-$VERSION"
cmake --install "$ROOT/build/win-x86" --prefix "$ZIPROOT" --strip >/dev/null
ZIP="$OUT/oempack-$VERSION-windows.zip"
rm -f "$OUT"/oempack-*-windows.zip
find "$STAGE/zip" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$STAGE/zip" && find "oempack-$VERSION" | LC_ALL=C sort | zip -q -X -@ "$ZIP")

echo "package: $DEB"
echo "package: $ZIP"

#!/usr/bin/env bash
# oempack --version: the version the build description names and the commit of the
# source tree it was built from; the script that records the commit, in and outside git.
# Usage: version_test.sh OEMPACK VERSION SOURCE_DIR
set -u
OEMPACK="$1"
VERSION="$2"
SOURCES="$3"

# shellcheck source=../support/checks.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/../support/checks.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

line=$("$OEMPACK" --version)
check "--version exits with 0" [ $? = 0 ]
check "--version names the project's version" eval 'case "$line" in "oempack $VERSION (commit "*) ;; *) false ;; esac'
if head=$(git -C "$SOURCES" rev-parse --short=12 HEAD 2>/dev/null); then
  check "--version names the commit ($line)" eval \
    'case "$line" in *"(commit $head;"* | *"(commit $head-modified;"*) ;; *) false ;; esac'
else
  echo "note: $SOURCES is not a git work tree: the commit of the build is not compared" >&2
fi

# The recording script on its own: a folder outside git, a commit, a changed file.
record() {  # record FOLDER: the commit the script records for a build of FOLDER
  cmake -DSOURCE_DIR="$1" -DVERSION=9.8 -DTEMPLATE="$SOURCES/tools/oempack/BuildVersion.cpp.in" \
    -DOUTPUT="$WORK/BuildVersion.cpp" -P "$SOURCES/cmake/OemBuildVersion.cmake" &&
    sed -n 's/^const char kToolCommit\[\] = "\(.*\)";$/\1/p' "$WORK/BuildVersion.cpp"
}
mkdir "$WORK/plain"
check "outside git the commit is unknown" [ "$(record "$WORK/plain")" = unknown ]
check "the version is the one passed" grep -q 'kToolVersion\[\] = "9.8";' "$WORK/BuildVersion.cpp"
git init -q "$WORK/repo"
echo one >"$WORK/repo/file.txt"
git -C "$WORK/repo" add file.txt
git -C "$WORK/repo" -c user.name=t -c user.email=t@t commit -qm one
commit=$(git -C "$WORK/repo" rev-parse --short=12 HEAD)
check "in git the commit is HEAD's" [ "$(record "$WORK/repo")" = "$commit" ]
echo two >"$WORK/repo/file.txt"
check "a changed file marks the commit as modified" [ "$(record "$WORK/repo")" = "$commit-modified" ]

checks_summary "oempack version"

#!/usr/bin/env bash
# The manual page of oempack: groff finds nothing to warn about, and the page documents
# what the program has: every command and option of --help, an example for each command,
# the exit statuses and every environment variable the sources read.
# Usage: man_page_test.sh MAN_PAGE OEMPACK SOURCE_FOLDER
set -u
PAGE="$1"
OEMPACK="$2"
SOURCES="$3"

# shellcheck source=../support/checks.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/../support/checks.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

groff -man -ww -z "$PAGE" >"$WORK/warnings.txt" 2>&1
check "groff -man -ww -z exits with 0" [ $? = 0 ]
check "groff -man -ww -z says nothing" [ ! -s "$WORK/warnings.txt" ]
cat "$WORK/warnings.txt" >&2

# The page as a reader sees it, on lines long enough that nothing is hyphenated.
groff -man -Tascii -P-cbou -rLL=400n "$PAGE" 2>/dev/null >"$WORK/page.txt"
section() {  # section NAME: the rendered text of one section
  awk -v name="$1" '/^[A-Z]/ { inside = ($0 == name); next } inside' "$WORK/page.txt"
}
mentions() { grep -qE -- "(^|[^A-Za-z-])$2([^A-Za-z-]|$)" "$1"; }

"$OEMPACK" --help >"$WORK/help.txt"
for option in $(grep -oE '(^|[ [|(,])--?[A-Za-z][A-Za-z-]*' "$WORK/help.txt" | tr -d ' [|(,' | sort -u); do
  check "the page documents $option" mentions "$WORK/page.txt" "$option"
done
section EXAMPLES >"$WORK/examples.txt"
section COMMANDS >"$WORK/commands.txt"
for cmd in $(sed -n 's/^  \([a-z][a-z]*\) .*/\1/p' "$WORK/help.txt"); do
  check "the page describes $cmd" grep -qE "^ +$cmd( |$)" "$WORK/commands.txt"
  check "the page has an example of $cmd" grep -qE "oempack $cmd( |$)" "$WORK/examples.txt"
done
section "EXIT STATUS" >"$WORK/exit.txt"
for status in $(grep '^Exit status' "$WORK/help.txt" | grep -oE '[ ,:][0-9]+ ' | grep -oE '[0-9]+'); do
  check "the page explains exit status $status" grep -qE "^ +$status( |$)" "$WORK/exit.txt"
done
section ENVIRONMENT >"$WORK/environment.txt"
for name in $(grep -rhoE 'getenv\("[A-Z_]+"\)' "$SOURCES/tools/oempack" | grep -oE '[A-Z_]+' | sort -u); do
  check "the page explains $name" grep -qE "^ +$name( |$)" "$WORK/environment.txt"
done

checks_summary "oempack man page"

#!/usr/bin/env bash
# The bash completion of oempack with bash alone: commands, each command's options as
# --help lists them, and option values.
# Usage: completion_test.sh COMPLETION_FILE OEMPACK
set -u
COMPLETION="$1"
OEMPACK="$(realpath "$2")"

# shellcheck source=../support/checks.sh
source "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/../support/checks.sh"

# shellcheck source=/dev/null
source "$COMPLETION"
check "the completion is registered for oempack" eval 'complete -p oempack | grep -q -- "-F _oempack"'

# offers WORD...: the words offered for the command line WORD... (the last one being completed), one a line.
offers() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _oempack
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
is() { [ "$1" = "$2" ] || { echo "  got: $(echo "$1" | tr '\n' ' ')" >&2; return 1; }; }
has() { printf '%s\n' "$1" | grep -qxF -- "$2"; }

check "oempack ma offers make" is "$(offers oempack ma)" "make"
check "oempack make --ar offers --arch" is "$(offers oempack make --ar)" "--arch"
check "oempack offers every command" is "$(offers oempack "" | tr '\n' ' ')" \
  "--help --version create extract help list make stamp verify "
check "--arch offers x86 and x64" is "$(offers oempack stamp --arch "" | tr '\n' ' ')" "x64 x86 "
check "--overwrite offers the modes by name" is "$(offers oempack extract --overwrite newer | tr '\n' ' ')" \
  "newer-time newer-version "
check "list offers its option, not make's" is "$(offers oempack list --j)" "--json"
check "an option's value is not offered options" is "$(offers oempack make -j -)" ""

# Every option that --help shows in a command's usage is offered for that command.
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1
"$OEMPACK" --help >help.txt
commands=$(sed -n 's/^  \([a-z][a-z]*\) .*/\1/p' help.txt)
check "--help lists the commands" [ "$(echo $commands)" != "" ]
for cmd in $commands; do
  usage=$(awk -v cmd="$cmd" '
    /^  [a-z]/ { inside = ($1 == cmd) }
    inside && (/^  [a-z]/ || /^       +[-[]/) { print }' help.txt)
  offered=$(offers oempack "$cmd" -)
  for option in $(printf '%s\n' "$usage" | grep -oE '(^|[ [|])--?[A-Za-z][A-Za-z-]*' | tr -d ' [|' | sort -u) \
      --help --no-progress; do
    check "$cmd offers $option" has "$offered" "$option"
  done
done

checks_summary "oempack completion"

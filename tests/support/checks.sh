# Sourced by the shell tests: named checks counted, and the closing line.
#   check NAME COMMAND...   passes when COMMAND succeeds; a failure is named on stderr
#   contains FILE TEXT      FILE holds TEXT (fixed string)
#   checks_summary TITLE    prints "TITLE: N passed, N failed"; succeeds when none failed
passed=0
failed=0
check() {
  local name="$1"
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
  fi
}
contains() { grep -qF -- "$2" "$1"; }
checks_summary() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" = 0 ]
}

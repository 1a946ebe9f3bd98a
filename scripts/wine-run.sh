#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's own prefix; exit code passes through.
set -euo pipefail
export WINEPREFIX="${OEM_WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"

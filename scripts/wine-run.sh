#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's own prefix; exit code passes through.
# Usage: wine-run.sh [--arch x86|x64] PROGRAM [ARGS...]. Without --arch: OEM_WINE_ARCH
# when set (wine-env.sh sets it), else the architecture of PROGRAM's own PE header.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OEM_ROOT="$ROOT"
source "$ROOT/scripts/wine-arches.sh"

# The machine field of a PE file's COFF header: x86 or x64 (nothing for other files).
pe_arch() {
  local lfanew machine
  lfanew=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ') || return 0
  [ -n "$lfanew" ] || return 0
  machine=$(od -An -t x2 -j $((lfanew + 4)) -N 2 "$1" 2>/dev/null | tr -d ' ') || return 0
  case "$machine" in 014c) echo x86 ;; 8664) echo x64 ;; esac
}

arch=""
if [ "${1:-}" = "--arch" ]; then arch="$2"; shift 2; fi
[ -n "$arch" ] || arch="${OEM_WINE_ARCH:-}"
[ -n "$arch" ] || arch="$(pe_arch "${1:?usage: wine-run.sh [--arch x86|x64] PROGRAM [ARGS...]}")"
[ -n "$arch" ] || arch=x86
wine_arch_select "$arch"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec "$WINELOADER" "$@"

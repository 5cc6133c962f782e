#!/usr/bin/env bash
# Runs a Windows program under Wine in the Windows build's own prefix, as
# the test driver's emulator. The settings keep crashes from passing as
# success and keep Wine from opening dialogs or installing Mono and Gecko.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/windows/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
exec wine "$@"

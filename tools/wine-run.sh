#!/usr/bin/env bash
# Runs a Windows program under Wine in the Windows build's own prefix, as
# the test driver's emulator. The settings keep crashes from passing as
# success and keep Wine from opening dialogs or installing Mono and Gecko.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/windows/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
# Menu entries Wine writes for the installer's shortcuts stay in the build
# folder, not in the host's home.
export XDG_DATA_HOME=$root/build/windows/xdg/data XDG_CONFIG_HOME=$root/build/windows/xdg/config
exec wine "$@"

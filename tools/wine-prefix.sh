#!/usr/bin/env bash
# Creates the Windows build's Wine prefix once: fonts copied in, no crash
# dialog, unmanaged windows (no 2 s wait when one closes under Xvfb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/windows/wineprefix}
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
[[ -f "$WINEPREFIX/.corvane-ready" ]] && exit 0
mkdir -p "$WINEPREFIX"
wine wineboot -i </dev/null >/dev/null 2>&1
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
cp /usr/share/wine/fonts/*.ttf "$fonts"/ 2>/dev/null || true
cp /usr/share/fonts/truetype/liberation/*.ttf "$fonts"/ 2>/dev/null || true
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
wineserver -w
touch "$WINEPREFIX/.corvane-ready"

#!/bin/sh
# Runs a Windows program of this build under Wine.
#   wine-run.sh STATE_DIR PROGRAM.exe [ARGS...]
# STATE_DIR holds the build's own Wine prefix (created on first use) and,
# while the tests' Xvfb runs, the file "display" with its display name.
set -e
state=$1
shift
mkdir -p "$state"
state=$(cd "$state" && pwd)  # Wine wants an absolute prefix
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
# No Mono or Gecko: the agent needs neither, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$state/display" ]; then
    DISPLAY=$(cat "$state/display")
    export DISPLAY
fi
# Wine's own services start with the first program of a session and inherit
# its output; starting them apart keeps them off the caller's pipes (a test
# runner waits for those to close). Quick when the session is up already.
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
# The dialogs ask for "Segoe UI", which Wine lacks. Roboto (Debian's
# fonts-roboto-unhinted) stands in: at 12 points it gives the same 9 x 21
# pixel base units, so the dialogs keep their size (README, "Windows").
if [ "$(cat "$state/font-substitute" 2>/dev/null)" != Roboto ]; then
    /usr/lib/wine/wine64 reg add \
        'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
        /v 'Segoe UI' /t REG_SZ /d Roboto /f </dev/null >/dev/null 2>&1 &&
        echo Roboto >"$state/font-substitute"
fi
exec /usr/lib/wine/wine64 "$@"

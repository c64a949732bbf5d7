#!/bin/sh
# Starts or stops the X server that the Windows programs of the tests draw on.
#   xvfb.sh start STATE_DIR   # Xvfb on a free display; its name goes to STATE_DIR/display
#   xvfb.sh stop STATE_DIR    # ends that Xvfb and the prefix's wineserver
set -e
action=$1
state=$2
mkdir -p "$state"
case "$action" in
start)
    if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
        exit 0
    fi
    rm -f "$state/display" "$state/xvfb.pid"
    # -displayfd picks a free display and writes its number once it listens.
    exec 3>"$state/display.number"
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        </dev/null >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    exec 3>&-
    i=0
    while [ ! -s "$state/display.number" ]; do
        i=$((i + 1))
        if [ $i -gt 100 ]; then
            echo "Xvfb did not start:" >&2
            cat "$state/xvfb.log" >&2
            exit 1
        fi
        sleep 0.1
    done
    echo ":$(tr -d '\n' <"$state/display.number")" >"$state/display"
    # A Wine session started without a display (listing the tests, say) keeps
    # its desktop display-less: end it, so the next one starts on this Xvfb.
    # Its wineserver then outlives each test program, which saves its start-up.
    WINEPREFIX="$state/prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    WINEPREFIX="$state/prefix" /usr/lib/wine/wineserver -w 2>/dev/null || true
    WINEPREFIX="$state/prefix" /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
    echo "Xvfb on $(cat "$state/display")"
    ;;
stop)
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
    fi
    rm -f "$state/display" "$state/display.number" "$state/xvfb.pid"
    WINEPREFIX="$state/prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    ;;
*)
    echo "usage: xvfb.sh start|stop STATE_DIR" >&2
    exit 2
    ;;
esac

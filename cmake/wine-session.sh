#!/usr/bin/env bash
# Starts or ends the one Wine session that the Windows test programs run in.
# The first Wine process of a session starts Wine's own services, which keep that process's
# output open; starting it here, with its output in a log, keeps the build and CTest from
# waiting on it. Usage: wine-session.sh start|stop PREFIX
set -u
action=${1:?start or stop}
prefix=$(realpath -m "${2:?wine prefix}")  # Wine takes only an absolute prefix
export WINEPREFIX=$prefix
export WINEDEBUG=-all
log=$(dirname "$prefix")/wine-session.log
mkdir -p "$(dirname "$prefix")"
# Wine's server and services outlive this script: none of them may hold the caller's output
# open, or the build waits for them to end.
exec </dev/null >>"$log" 2>&1

case $action in
start)
    if [ ! -f "$prefix/system.reg" ]; then
        mkdir -p "$prefix"
        wineboot -i
        wineserver -w
    fi
    wineserver -p
    WINEDEBUG=-all,warn+debugstr /usr/lib/wine/wine64 cmd /c exit 0
    ;;
stop)
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    ;;
*)
    echo "usage: $0 start|stop PREFIX" >&2
    exit 2
    ;;
esac
exit 0

#!/bin/sh
# Starts (start) or stops (stop) the wineserver that the PE32 tests share, in
# the private prefix named by WINEPREFIX, so that each program starts quickly.
set -eu
case $1 in
start)
    mkdir -p "$WINEPREFIX"
    wineserver -k 2>/dev/null || true
    # The server and the services that wineboot starts outlive this script:
    # they must not hold the test runner's output open.
    wineserver -p </dev/null >/dev/null 2>&1
    # Creates the prefix on first use; the one slow start of the run.
    wine wineboot --init </dev/null >/dev/null 2>&1
    ;;
stop)
    wineserver -k 2>/dev/null || true
    ;;
esac

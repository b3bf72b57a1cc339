#!/bin/sh
# Starts or stops the Wine environment of the Windows suite.
#   wine-env.sh start SENTINEL_EXE   persistent wineserver, prefix booted, and
#                                    a check that 32-bit programs really run
#   wine-env.sh stop                 ends this prefix's wineserver
# WINEPREFIX, WINEDEBUG and LANG come from the caller (ctest sets them).
# The prefix is made without Wine's .NET and HTML engines: nothing here uses
# them, and their installers would only ask for downloads.
# Every Wine process here gets /dev/null as its streams: Wine's services live
# on after wineboot and would otherwise hold the caller's pipes open.
set -u
case "${1:-}" in
  start)
    sentinel=${2:?sentinel program}
    mkdir -p "${WINEPREFIX:?WINEPREFIX must be set}"
    wineserver -p </dev/null >/dev/null 2>&1 || true
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >/dev/null 2>&1 || true
    out=$(wine "$sentinel" </dev/null 2>/dev/null | tr -d '\r')
    if [ "$out" != vrex-wine-sentinel ]; then
      echo "wine did not run the 32-bit test program (got '$out'); is wine32 installed?" >&2
      exit 1
    fi
    echo "wine runs 32-bit programs ($(wine --version 2>/dev/null))"
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 start SENTINEL_EXE | stop" >&2
    exit 2
    ;;
esac

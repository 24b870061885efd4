#!/usr/bin/env bash
# ctest fixture: a fresh private cluster for the test run, removed afterwards.
set -euo pipefail
case "$1" in
start)
    "$MORVEL_DB" stop >/dev/null 2>&1 || true
    rm -rf "$MORVEL_PGDATA"
    "$MORVEL_DB" init
    "$MORVEL_DB" start
    ;;
stop)
    "$MORVEL_DB" stop || true
    rm -rf "$MORVEL_PGDATA"
    ;;
esac

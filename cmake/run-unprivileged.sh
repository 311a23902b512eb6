#!/bin/sh
# Runs a test as an ordinary user: root may write into every folder, so the
# cases about folders a user may not write need someone else. Skips (77) when
# nobody else can be, or when that user cannot reach the test executable.
[ "$(id -u)" = 0 ] && command -v runuser >/dev/null 2>&1 || exit 77
runuser -u nobody -- test -x "$1" || exit 77
cd /tmp && exec runuser -u nobody -- "$@"

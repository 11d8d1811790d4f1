#!/usr/bin/env bash
# tovrikctl's stop at the session's end (stop_requests_win_tests.exe). Its hidden window needs
# a display, which Wine has only with an X server: the tests run on a private one.
#   win_session_end.sh WINE_RUN TEST_EXE WORK_DIR    exit 0, 1 failed, 77 skipped
set -uo pipefail
wine_run=$1 test=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
"$wine_run" --can-run || exit $?

rm -rf "$work" && mkdir -p "$work"
# shellcheck source=tests/windows/wine_session.sh
source "$here/wine_session.sh"
# The wineserver's desktop process would outlive this X server.
trap '"$wine_run" --server -k 2>/dev/null; cleanup' EXIT
start_xvfb
"$wine_run" --server -k 2>/dev/null
"$wine_run" "$test"

#!/usr/bin/env bash
# TOVRIK.exe closed while its settings file is read-only: a message box names the file and
# the system's reason, and the file stays as it was. Under Wine on a private X server; the
# box is found and read through the Windows API by close_and_read_box.exe.
#   win_save_failure.sh WINE_RUN TOVRIK_EXE HELPER_EXE WORK_DIR    exit 0, 1 failed, 77 skipped
set -uo pipefail
wine_run=$1 tovrik=$2 helper=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
"$wine_run" --can-run || exit $?

rm -rf "$work" && mkdir -p "$work"
# shellcheck source=tests/windows/wine_session.sh
source "$here/wine_session.sh"
ini=$("$wine_run" --prefix-path)/drive_c/users/$(id -un)/AppData/Roaming/TOVRIK/TOVRIK.INI
# The wineserver's desktop process would outlive this X server.
trap 'chmod 644 "$ini" 2>/dev/null; rm -f "$ini"; "$wine_run" --server -k 2>/dev/null; cleanup' EXIT
start_xvfb

mkdir -p "$(dirname "$ini")"
printf '[Profile]\r\nStep=4\r\n' >"$ini"
chmod 444 "$ini"  # Wine shows it read-only, whoever runs the test
cp "$ini" "$work/before"

"$wine_run" --server -k 2>/dev/null
"$wine_run" "$tovrik" &
app=$!
"$wine_run" "$helper" TOVRIK 'Z:'"${work//\//\\}"'\box.txt' || fail "no message box after the close"
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "TOVRIK.exe still running"

mapfile -t lines < <(cat "$work/box.txt" 2>/dev/null)
echo "the box said: ${lines[*]}"
[[ ${lines[0]:-} == "設定を保存できませんでした。" ]] || fail "first line"
[[ ${lines[1]:-} == *'\AppData\Roaming\TOVRIK\TOVRIK.INI' ]] || fail "no file name"
[[ -n ${lines[2]:-} ]] || fail "no reason"
cmp -s "$ini" "$work/before" || fail "the read-only file changed"
((failures == 0)) && echo passed
exit $((failures > 0))

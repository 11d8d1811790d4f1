#!/usr/bin/env bash
# TOVRIK.exe closed while its settings file is read-only: a message box names the file and
# the system's reason, and the file stays as it was. Under Wine on a private X server; the
# box is found and read through the Windows API by close_and_read_box.exe.
#   win_save_failure.sh WINE_RUN TOVRIK_EXE HELPER_EXE WORK_DIR    exit 0, 1 failed, 77 skipped
set -uo pipefail
wine_run=$1 tovrik=$2 helper=$3 work=$4
"$wine_run" --can-run || exit $?
if [[ -z ${TOVRIK_SAVE_TEST_X:-} ]]; then  # again, on a private X server
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" env TOVRIK_SAVE_TEST_X=1 "$0" "$@"
fi
export TOVRIK_WINE_DISPLAY=$DISPLAY

rm -rf "$work" && mkdir -p "$work"
app=""
appdata=$("$wine_run" --prefix-path)/drive_c/users/$(id -un)/AppData/Roaming
ini=$appdata/TOVRIK/TOVRIK.INI
cleanup() {
    [[ -n $app ]] && kill "$app" 2>/dev/null
    chmod 644 "$ini" 2>/dev/null && rm -f "$ini"
    "$wine_run" --server -k 2>/dev/null  # its desktop process would outlive this X server
}
trap cleanup EXIT

mkdir -p "$(dirname "$ini")"
printf '[Profile]\r\nStep=4\r\n' >"$ini"
chmod 444 "$ini"  # Wine shows it read-only, whoever runs the test
cp "$ini" "$work/before"

"$wine_run" --server -k 2>/dev/null
"$wine_run" "$tovrik" &
app=$!
"$wine_run" "$helper" TOVRIK 'Z:'"${work//\//\\}"'\box.txt'
status=$?
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && { echo "FAIL: TOVRIK.exe still running"; exit 1; }
app=""
((status == 0)) && [[ -s $work/box.txt ]] || { echo "FAIL: no message box after the close"; exit 1; }

mapfile -t lines <"$work/box.txt"
echo "the box said: ${lines[*]}"
failures=0
[[ ${lines[0]:-} == "設定を保存できませんでした。" ]] || { echo "FAIL: first line"; failures=1; }
[[ ${lines[1]:-} == *'\AppData\Roaming\TOVRIK\TOVRIK.INI' ]] || { echo "FAIL: no file name"; failures=1; }
[[ -n ${lines[2]:-} ]] || { echo "FAIL: no reason"; failures=1; }
cmp -s "$ini" "$work/before" || { echo "FAIL: the read-only file changed"; failures=1; }
((failures == 0)) && echo passed
exit $failures

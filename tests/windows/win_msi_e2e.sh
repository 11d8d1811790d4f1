#!/usr/bin/env bash
# The MSI under Wine: its Property table, a silent install, the files and shortcuts where
# they belong, a 32-bit client in an unrelated folder that loads tovrik.dll by name and sets
# an emulated TOVRIK, the installed TOVRIK.exe starting on a private X server, and a silent
# uninstall that removes everything it installed but the user's settings file.
#   win_msi_e2e.sh TOVRIK_EMU WINE_RUN MSI CLIENT_EXE WORK_DIR
# Exit 0 passed, 1 failed, 77 skipped (no emulator, no Wine, or Wine cannot run 32-bit).
set -uo pipefail
emu=$1 wine_run=$2 msi=$3 client=$4 work=$5
skip=77

if [[ ! -x $emu ]]; then
    echo "SKIP: no tovrik-emu at '$emu' (configure with -DTOVRIK_EMU=<native build>/tools/tovrik-emu)"
    exit $skip
fi
"$wine_run" --can-run || exit $?
if [[ ! -f $msi ]]; then
    echo "FAIL: no $msi: build it first (cmake --build <this build> --target msi)"
    exit 1
fi

rm -rf "$work" && mkdir -p "$work"
# shellcheck source=wine_session.sh
. "$(dirname "$0")/wine_session.sh"

# 1. The Property table.
props=$(msiinfo export "$msi" Property | tr -d '\r')
for row in $'ProductName\tTOVRIK' $'Manufacturer\tTOVRIK project' \
           $'UpgradeCode\t{34F95D44-6EB7-4011-B88A-2045B5AC31AC}' $'ALLUSERS\t1'; do
    grep -qxF "$row" <<<"$props" || fail "Property table lacks '$row'"
done
grep -qE $'^ProductVersion\t[0-9]+\\.[0-9]+\\.[0-9]+$' <<<"$props" || fail "no ProductVersion"
echo "Property table:"; sed 1,3d <<<"$props" | sed 's/^/  /'

drive=$("$wine_run" --prefix-path)/drive_c
msi_win=Z:${msi//\//\\}  # the Unix root is drive Z:
dir=$drive/Program\ Files\ \(x86\)/TOVRIK
system_dll=$drive/windows/syswow64/tovrik.dll
ini=$drive/users/$(id -un)/AppData/Roaming/TOVRIK/TOVRIK.INI
installed=("$dir/TOVRIK.exe" "$dir/tovrik-sample.exe" "$dir/tovrikctl.exe" "$dir/tovrik.ico"
           "$dir/README.txt" "$dir/LICENSE.txt" "$dir/SDK/include/tovrik_win.h"
           "$dir/SDK/lib/x86/tovrik.def"
           "$dir/SDK/lib/x64/tovrik.def" "$dir/SDK/x86/tovrik.dll" "$dir/SDK/x86/set_frequency.exe"
           "$dir/SDK/examples/set_frequency.c" "$system_dll")

start_xvfb
start_session '"$1" reg.exe query "HKCU\\Software" >/dev/null' --devices t

# 2. Silent install.
rm -f "$ini"
"$wine_run" msiexec /i "$msi_win" /qn /l*v "Z:${work//\//\\}\\install.log" >"$work/install.out" 2>&1
status=$?
((status == 0)) || fail "msiexec /i exited with $status"
# The Start menu as the installer resolved it, from its own log (Wine resolves the
# per-machine folder to the user's).
menu=$(tr -d '\0\r' <"$work/install.log" | sed -n 's/^Property(S): ProgramMenuFolder = C:\\//p' |
       head -1 | tr '\\' /)
[[ -n $menu ]] || fail "no ProgramMenuFolder in the installer's log"
menu=$drive/${menu%/}/TOVRIK
installed+=("$menu/TOVRIK.lnk" "$menu/tovrik-sample.lnk" "$menu/TOVRIK command prompt.lnk")
for f in "${installed[@]}"; do [[ -f $f ]] || fail "not installed: ${f#"$drive"/}"; done

# 3. A client in a folder of its own finds tovrik.dll by name (the system folder's copy).
mkdir -p "$drive/elsewhere"
cp "$client" "$drive/elsewhere/"
[[ -e $drive/elsewhere/tovrik.dll ]] && fail "tovrik.dll beside the client"
for _ in $(seq 100); do
    (cd "$drive/elsewhere" && "$wine_run" "$(basename "$client")" 12800000 >"$work/client.out" 2>&1) &&
        grep -q ' write 00 79 56 34 12 01 00 00' "$log" && break
    sleep 0.3  # Wine adds the emulated device asynchronously
done
grep -q ' write 00 79 56 34 12 01 00 00' "$log" ||
    fail "the client in an unrelated folder did not set 12.8 MHz: $(cat "$work/client.out")"

# 4. The installed TOVRIK.exe starts; closing it writes the user's settings file.
(cd "$dir" && "$wine_run" "$dir/TOVRIK.exe") &
app=$!
win=$(wait_window '^TOVRIK$' 60)
if [[ -n $win ]]; then
    sleep 0.5
    xdotool windowfocus --sync "$win" key alt+F4
    for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
else
    fail "the installed TOVRIK.exe showed no window"
fi
kill "$app" 2>/dev/null
wait "$app" 2>/dev/null
app=""
[[ -f $ini ]] || fail "TOVRIK.exe wrote no settings file at $ini"

# 5. Silent uninstall: everything installed goes, the settings file stays.
"$wine_run" msiexec /x "$msi_win" /qn >"$work/uninstall.out" 2>&1
status=$?
((status == 0)) || fail "msiexec /x exited with $status"
for f in "${installed[@]}"; do [[ -e $f ]] && fail "left after uninstall: ${f#"$drive"/}"; done
[[ -e $dir ]] && fail "install folder left: $(find "$dir" | head)"
[[ -e $menu ]] && fail "Start-menu folder left"
[[ -f $ini ]] || fail "the uninstall removed the user's settings file"
rm -rf "$drive/elsewhere"

if ((failures)); then
    echo "--- emulator log"; cat "$log"
    echo "--- msiexec"; cat "$work/install.out" "$work/uninstall.out"
    exit 1
fi
echo "passed"

#!/usr/bin/env bash
# The MSI under Wine's 64-bit msiexec (no 32-bit Wine needed: nothing of ours runs):
#  - another product's newer tovrik.dll in the system folder, counted once in SharedDLLs,
#    is neither replaced by the install nor removed by the uninstall, and its count comes back;
#  - a rebuild of the same version (a new ProductCode) replaces the installed build: one
#    product afterwards, the rebuild's files in place;
#  - the install folder is on the system PATH once, and gone from it after the uninstall;
#    the Start menu's console opens there.
#   win_msi_install.sh WINE_RUN MSI OTHER_DLL WORK_DIR BUILD_MSI_COMMAND...
# Exit 0 passed, 1 failed, 77 skipped (no Wine).
set -uo pipefail
wine_run=$1 msi=$2 other_dll=$3 work=$4
shift 4
build_msi=("$@")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$wine_run" --wine64 --can-run || exit $?
[[ -f $msi ]] || { echo "FAIL: no $msi: build it first (--target msi)"; exit 1; }
build=$(dirname "$msi")
rm -rf "$work" && mkdir -p "$work/rebuild"

wine64() { "$wine_run" --wine64 "$@"; }
msiexec() {
    wine64 msiexec "$@" /qn >>"$work/msiexec.out" 2>&1 || fail "msiexec $* exited with $?"
}
windows_path() { echo "Z:${1//\//\\}"; }  # the Unix root is drive Z:
# The last field of `reg query` for one value, or nothing.
# (The name goes through the environment: awk -v would read its backslashes as escapes.)
reg_value() { wine64 reg.exe query "$1" /v "$2" "${@:3}" 2>/dev/null | tr -d '\r' |
              N=$2 awk 'tolower($1) == tolower(ENVIRON["N"]) { print $NF }'; }
shared_key='HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs'
system_dll='C:\windows\syswow64\tovrik.dll'
shared_count() { reg_value "$shared_key" "$system_dll" /reg:32; }
environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
install_dir='C:\Program Files (x86)\TOVRIK'
# The system PATH's entries, one a line, without empty ones and a closing backslash.
path_list() {
    wine64 reg.exe query "$environment" /v PATH 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *PATH *REG_[A-Z_]* *//p' | tr ';' '\n' | sed 's/\\$//' | grep .
}
# How often the install folder is on it.
path_entries() { path_list | grep -cixF "$install_dir"; }
# Products named TOVRIK in Add/Remove Programs, in both registry views.
products() {
    for view in /reg:32 /reg:64; do
        wine64 reg.exe query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s $view
    done 2>/dev/null | tr -d '\r' | grep -cE '^ +DisplayName +REG_SZ +TOVRIK$'
}

drive=$("$wine_run" --prefix-path)/drive_c
dir=$drive/Program\ Files\ \(x86\)/TOVRIK
sysdir=$drive/windows/syswow64

# The rebuild: the same .wxs with another tovrikctl.exe (same version, one byte more) and
# read-me, made by the same command as the msi target; wixl gives it a new ProductCode.
rel=$(realpath --relative-to="$build" "$work/rebuild")
cp "$build/bin/tovrikctl.exe" "$work/rebuild/tovrikctl.exe"
printf '\0' >>"$work/rebuild/tovrikctl.exe"
printf 'rebuild\r\n' >"$work/rebuild/README.txt"
sed -e "s#Source=\"bin/tovrikctl.exe\"#Source=\"$rel/tovrikctl.exe\"#" \
    -e "s#Source=\"README.txt\"#Source=\"$rel/README.txt\"#" "$build/tovrik.wxs" >"$work/rebuild.wxs"
msi2=$work/tovrik-rebuild.msi
"${build_msi[@]}" --base "$build" "$work/rebuild.wxs" "$msi2" || fail "the rebuild's MSI failed"
[[ $(msiinfo export "$msi" Property | grep ProductCode) != \
   $(msiinfo export "$msi2" Property | grep ProductCode) ]] || fail "the rebuild kept the ProductCode"

# Leave the prefix as found for the other tests: nothing installed, no foreign tovrik.dll.
cleanup() {
    if (($(products) > 0)); then
        wine64 msiexec /x "$(windows_path "$msi2")" /qn >/dev/null 2>&1
        wine64 msiexec /x "$(windows_path "$msi")" /qn >/dev/null 2>&1
    fi
    cmp -s "$other_dll" "$sysdir/tovrik.dll" && rm -f "$sysdir/tovrik.dll"
    wine64 reg.exe delete "$shared_key" /v "$system_dll" /f /reg:32 >/dev/null 2>&1
}
trap cleanup EXIT

# Another product's tovrik.dll, counted as its installer would have.
mkdir -p "$sysdir"
cp "$other_dll" "$sysdir/tovrik.dll"
wine64 reg.exe add "$shared_key" /v "$system_dll" /t REG_DWORD /d 1 /f /reg:32 >/dev/null ||
    fail "could not count the other product's tovrik.dll"
path_before=$(path_list)
[[ $(path_entries) == 0 ]] || fail "the install folder is on PATH before the install"

# 1. Install: the newer DLL stays, counted twice; the folder is on PATH.
msiexec /i "$(windows_path "$msi")"
[[ -f $dir/tovrikctl.exe ]] || fail "not installed: tovrikctl.exe"
cmp -s "$other_dll" "$sysdir/tovrik.dll" || fail "the install replaced the newer tovrik.dll"
[[ $(shared_count) == 0x2 ]] || fail "SharedDLLs count after install: '$(shared_count)'"
[[ $(path_entries) == 1 ]] || fail "install folder on PATH $(path_entries) times"
[[ $(products) == 1 ]] || fail "$(products) TOVRIK products after the first install"
# The Start menu's console: cmd.exe in the install folder (the link's strings are UTF-16).
console=$(find "$drive" -name 'TOVRIK command prompt.lnk' | head -1)
link=$(tr -d '\0' <"${console:-/dev/null}")
[[ $link == *cmd.exe* && $link == *"/k tovrikctl --help"* && $link == *"$install_dir"* ]] ||
    fail "console shortcut '$console' does not open cmd.exe in $install_dir"

# 2. The rebuild of the same version replaces it.
msiexec /i "$(windows_path "$msi2")"
[[ $(products) == 1 ]] || fail "$(products) TOVRIK products after installing the rebuild"
cmp -s "$work/rebuild/tovrikctl.exe" "$dir/tovrikctl.exe" || fail "the rebuild's tovrikctl.exe is not in place"
cmp -s "$work/rebuild/README.txt" "$dir/README.txt" || fail "the rebuild's README.txt is not in place"
[[ -f $dir/TOVRIK.exe ]] || fail "TOVRIK.exe missing after the upgrade"
cmp -s "$other_dll" "$sysdir/tovrik.dll" || fail "the upgrade replaced the newer tovrik.dll"
[[ $(shared_count) == 0x2 ]] || fail "SharedDLLs count after the upgrade: '$(shared_count)'"
[[ $(path_entries) == 1 ]] || fail "install folder on PATH $(path_entries) times after the upgrade"

# 3. Uninstall: our files and PATH entry go, the other product's DLL and count stay.
msiexec /x "$(windows_path "$msi2")"
[[ -e $dir ]] && fail "install folder left: $(find "$dir" | head -3)"
cmp -s "$other_dll" "$sysdir/tovrik.dll" || fail "the uninstall removed the other product's tovrik.dll"
[[ $(shared_count) == 0x1 ]] || fail "SharedDLLs count after uninstall: '$(shared_count)'"
[[ $(path_entries) == 0 ]] || fail "install folder still on PATH"
[[ $(path_list) == "$path_before" ]] || fail "PATH was '$path_before', is '$(path_list)'"
[[ $(products) == 0 ]] || fail "$(products) TOVRIK products after the uninstall"

if ((failures)); then
    echo "--- msiexec"; cat "$work/msiexec.out"
    exit 1
fi
echo "passed"

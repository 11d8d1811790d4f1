#!/usr/bin/env bash
# The MSI's tables as build_msi.py leaves them (msitools only, no Wine): file versions, the
# shared system DLL, same-version upgrades, the PATH entry, the console shortcut, the
# Add/Remove Programs entries and a CR LF read-me.
#   msi_tables.sh MSI VERSION WORK_DIR
set -uo pipefail
msi=$1 version=$2 work=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[[ -f $msi ]] || { echo "FAIL: no $msi: build it first (--target msi)"; exit 1; }
# One table's rows without its three header lines.
rows() { msiinfo export "$msi" "$1" | tr -d '\r' | sed 1,3d; }
# Column $4 (from 1) of the row of table $1 whose column $2 is $3 (read(1) would merge empty
# cells, so awk splits).
field() { rows "$1" | awk -F'\t' -v kc="$2" -v k="$3" -v c="$4" '$kc == k { print $c; f = 1 }
                                                                END { exit !f }'; }
cell() { field "$1" 1 "$2" "$3"; }

# Every program and DLL carries its version; other files none. Ours are the project's.
while IFS=: read -r id name fileVersion; do
    name=${name#*|}  # short|long names
    if [[ $name == *.exe || $name == *.dll ]]; then
        [[ $fileVersion =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
            fail "File $id ($name) has no version: '$fileVersion'"
    elif [[ -n $fileVersion ]]; then
        fail "File $id ($name) is not a program but has version $fileVersion"
    fi
done < <(rows File | awk -F'\t' '{ print $1 ":" $3 ":" $5 }')
for id in SystemDllFile SdkDllX86File Program_tovrikctlFile; do
    [[ $(cell File "$id" 5) == "$version.0" ]] || fail "File $id: version '$(cell File "$id" 5)'"
done

# The system folder's DLL counts its users; nothing else needs to.
(($(cell Component SystemDll 4) & 8)) || fail "SystemDll lacks SharedDllRefCount"
shared=$(rows Component | awk -F'\t' '$4 % 16 >= 8 { print $1 }')
[[ $shared == SystemDll ]] || fail "shared components: $shared"

# Same-version rebuilds upgrade (inclusive maximum), and are no downgrade (exclusive
# minimum); the old product goes before any file is copied.
max=$(field Upgrade 7 WIX_UPGRADE_DETECTED 3)
attributes=$(field Upgrade 7 WIX_UPGRADE_DETECTED 5)
[[ $max == "$version" ]] && ((attributes & 0x200)) || fail "upgrade row: $max $attributes"
min=$(field Upgrade 7 WIX_DOWNGRADE_DETECTED 2)
attributes=$(field Upgrade 7 WIX_DOWNGRADE_DETECTED 5)
[[ $min == "$version" ]] && ! ((attributes & 0x100)) || fail "downgrade row: $min $attributes"
[[ $(cell Property REINSTALLMODE 2) == *a* ]] && fail "REINSTALLMODE overwrites newer files"
remove=$(cell InstallExecuteSequence RemoveExistingProducts 3)
[[ -n $remove ]] && ((remove < $(cell InstallExecuteSequence InstallFiles 3))) ||
    fail "RemoveExistingProducts ($remove) does not come before InstallFiles"

# The install folder appended to the system PATH, and taken out again at uninstall.
[[ $(rows Environment) == $'TovrikPath\t=-*PATH\t[~];[INSTALLDIR]\tProgram_tovrikctl' ]] ||
    fail "Environment: $(rows Environment)"
for action in WriteEnvironmentStrings RemoveEnvironmentStrings; do
    cell InstallExecuteSequence $action 3 >/dev/null || fail "no $action in the sequence"
done

# A console in the install folder from the Start menu.
shortcut=$(for c in 2 5 6 12; do cell Shortcut ConsoleShortcut $c; done | paste -sd'|')
[[ $shortcut == 'MENUDIR|[%ComSpec]|/k '*'|INSTALLDIR' ]] || fail "console shortcut: $shortcut"

# Add/Remove Programs: nothing to modify, help and contact given.
[[ $(cell Property ARPNOMODIFY 2) == 1 ]] || fail "ARPNOMODIFY not 1"
for property in ARPHELPLINK ARPCONTACT ARPCOMMENTS; do
    [[ -n $(cell Property $property 2) ]] || fail "no $property"
done

# The read-me as installed: CR LF throughout.
rm -rf "$work" && mkdir -p "$work"
(cd "$work" && msiextract "$msi" >/dev/null) || fail "msiextract failed"
readme=$(find "$work" -name README.txt | head -1)
if [[ -z $readme ]]; then
    fail "no README.txt in the MSI"
elif grep -qv $'\r$' "$readme"; then
    fail "README.txt has lines without CR LF"
fi

((failures)) && exit 1
echo "passed"
